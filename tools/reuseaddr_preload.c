/* Preloaded into GStreamer's RTSP server for the multicast tests: every UDP
 * socket gets SO_REUSEADDR before it is bound, so that a client on the same
 * host can bind the group's port too (the server binds it without). */
#define _GNU_SOURCE
#include <dlfcn.h>
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
