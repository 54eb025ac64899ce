// The login prompt on the controlling terminal, with the password not echoed.
// Without a terminal there is nobody to ask: the outcome is that of Cancel.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {

// Reads one line from the terminal into psz (cch bytes); false on end of
// input. An empty line keeps the current value.
bool ReadLine(int fd, char* psz, int cch) {
    char szLine[1024];
    int n = 0;
    char c;
    while (read(fd, &c, 1) == 1) {
        if (c == '\n' || c == '\r') {
            if (n > 0) {
                snprintf(psz, (size_t)cch, "%.*s", n, szLine);
            }
            return true;
        }
        if (n < (int)sizeof(szLine) - 1) {
            szLine[n++] = c;
        }
    }
    return false;
}

void Write(int fd, const char* psz) {
    (void)!write(fd, psz, strlen(psz));
}

} // namespace

HRESULT ShowLoginPrompt(const char* pszServer, const char* pszRealm, char* pszUser, int cchUser,
                        char* pszPassword, int cchPassword) {
    int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return S_FALSE;
    }
    char szText[1024];
    snprintf(szText, sizeof(szText),
             "\nLogin Required\nThe server %s at %s requires a username and password.\n"
             "Username [%s]: ",
             pszRealm, pszServer, pszUser);
    Write(fd, szText);
    bool bOk = ReadLine(fd, pszUser, cchUser);
    if (bOk) {
        Write(fd, "Password: ");
        termios saved;
        const bool bTerminal = tcgetattr(fd, &saved) == 0;
        if (bTerminal) {
            termios hidden = saved;
            hidden.c_lflag &= ~(tcflag_t)ECHO;
            tcsetattr(fd, TCSAFLUSH, &hidden);
        }
        bOk = ReadLine(fd, pszPassword, cchPassword);
        if (bTerminal) {
            tcsetattr(fd, TCSAFLUSH, &saved);
        }
        Write(fd, "\n");
    }
    close(fd);
    return bOk ? S_OK : S_FALSE;
}
