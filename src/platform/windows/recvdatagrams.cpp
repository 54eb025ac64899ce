// One receive after the other until none waits: Windows Sockets has no call
// that takes several datagrams of a non-blocking socket at once.
#include "platform.h"

int RecvDatagrams(SOCKET s, WSABUF* pBuffers, int nCount, DWORD* pcbReceived) {
    if (!pBuffers || !pcbReceived || nCount < 1 || nCount > 64) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    int n = 0;
    while (n < nCount) {
        const int cb = recv(s, pBuffers[n].buf, (int)pBuffers[n].len, 0);
        if (cb == SOCKET_ERROR) {
            const int nError = WSAGetLastError();
            // A datagram cut to its buffer still counts; any other failure
            // after the first datagram ends the batch.
            if (nError == WSAEMSGSIZE) {
                pcbReceived[n] = pBuffers[n].len;
                n++;
                continue;
            }
            return n > 0 ? n : SOCKET_ERROR;
        }
        pcbReceived[n++] = (DWORD)cb;
    }
    return n;
}
