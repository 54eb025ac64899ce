// Value formatters and the formatting engine on arbitrary values and format
// strings made only of conversions that take no argument or an int.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzzsupport.h"
#include "common/format.h"
#include "common/hresultname.h"
#include "common/trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_TraceModule.SetFlags(TRACE_ENABLED);
    int64_t value = 0;
    memcpy(&value, data, size < sizeof(value) ? size : sizeof(value));
    FUZZ_INVARIANT(strlen(HResultName((HRESULT)(uint32_t)value)) < 300);
    FUZZ_INVARIANT(strlen(FormatMs(value)) < 50 && strlen(FilterStateName((int)value)) < 50);
    // Keep only flags, width, precision and integer conversions, at most 32
    // of them, so that the arguments given match whatever the format asks for.
    std::string format;
    int nConversions = 0;
    for (size_t i = sizeof(value); i < size && format.size() < 200; i++) {
        const char c = (char)data[i];
        if (strchr("%-+ #0123456789.diuxXoc", c) && c != 0 && (c != '%' || ++nConversions <= 32)) {
            format += c;
        }
    }
    char szOut[64];
    const int n = FormatString(szOut, sizeof(szOut), format.c_str(), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                               11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27,
                               28, 29, 30, 31, 32);
    FUZZ_INVARIANT(n >= 0 && n < (int)sizeof(szOut) && strlen(szOut) == (size_t)n);
    return 0;
}
