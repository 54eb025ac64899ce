#include "platform.h"

const wchar_t* DefaultTraceLogPath() {
    return L"c:\\MorvaneTrace.txt";
}
