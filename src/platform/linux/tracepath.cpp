#include "platform.h"

// There is no c:\ here: the log goes to /tmp, which every process can write.
const wchar_t* DefaultTraceLogPath() {
    return L"/tmp/MorvaneTrace.txt";
}
