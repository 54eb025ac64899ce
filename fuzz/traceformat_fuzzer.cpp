// Value formatters and the formatting engine on arbitrary values and format
// strings made only of conversions that take no argument or an int.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzzinvariant.h"
#include "common/format.h"
#include "common/hresultname.h"
#include "common/trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_TraceModule.SetFlags(TRACE_ENABLED);
    int64_t value = 0;
    memcpy(&value, data, size < sizeof(value) ? size : sizeof(value));
    FUZZ_INVARIANT(strlen(HResultName((HRESULT)(uint32_t)value)) < 300);
    FUZZ_INVARIANT(strlen(FormatMs(value)) < 50 && strlen(FilterStateName((int)value)) < 50);
    // Keep only flags, width, precision and integer conversions, so that the
    // arguments given match whatever the format asks for.
    std::string format;
    for (size_t i = sizeof(value); i < size && format.size() < 200; i++) {
        const char c = (char)data[i];
        if (strchr("%-+ #0123456789.diuxXoc", c) && c != 0) {
            format += c;
        }
    }
    char szOut[64];
    const int n = FormatString(
        szOut, sizeof(szOut), format.c_str(), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
        17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39,
        40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62,
        63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85,
        86, 87, 88, 89, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106,
        107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124,
        125, 126, 127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142,
        143, 144, 145, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 156, 157, 158, 159, 160,
        161, 162, 163, 164, 165, 166, 167, 168, 169, 170, 171, 172, 173, 174, 175, 176, 177, 178,
        179, 180, 181, 182, 183, 184, 185, 186, 187, 188, 189, 190, 191, 192, 193, 194, 195, 196,
        197, 198, 199, 200);
    FUZZ_INVARIANT(n >= 0 && n < (int)sizeof(szOut) && strlen(szOut) == (size_t)n);
    return 0;
}
