/* Preloaded into GStreamer's RTSP server for the multicast tests: every UDP
 * socket gets SO_REUSEADDR before it is bound, so that a client on the same
 * host can bind the group's port too (the server binds it without). IPv6
 * groups leave the test namespace's virtual Ethernet pair, not its loopback:
 * the server's own copy must be looped back to the client on this host, so
 * IPV6_MULTICAST_LOOP stays on. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

int bind(int fd, const struct sockaddr* address, socklen_t length) {
    static int (*real_bind)(int, const struct sockaddr*, socklen_t);
    int type = 0;
    socklen_t size = sizeof(type);
    const int on = 1;
    if (!real_bind) {
        real_bind = (int (*)(int, const struct sockaddr*, socklen_t))dlsym(RTLD_NEXT, "bind");
    }
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_DGRAM) {
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    }
    return real_bind(fd, address, length);
}

int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
    static int (*real_setsockopt)(int, int, int, const void*, socklen_t);
    const int on = 1;
    if (!real_setsockopt) {
        real_setsockopt =
            (int (*)(int, int, int, const void*, socklen_t))dlsym(RTLD_NEXT, "setsockopt");
    }
    if (level == IPPROTO_IPV6 && name == IPV6_MULTICAST_LOOP) {
        value = &on;
        length = sizeof(on);
    }
    return real_setsockopt(fd, level, name, value, length);
}
