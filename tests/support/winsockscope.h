// Keeps Windows Sockets started for the helper sockets a test makes itself.
#pragma once

#include "platform.h"

class CWinsockScope {
public:
    CWinsockScope() {
        WSADATA wsaData;
        WSAStartup(MAKEWORD(2, 2), &wsaData);
    }
    ~CWinsockScope() { WSACleanup(); }
    CWinsockScope(const CWinsockScope&) = delete;
    CWinsockScope& operator=(const CWinsockScope&) = delete;
};
