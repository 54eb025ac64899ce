// GUID creation and formatting, and the identifiers of the basic COM
// interfaces.
#include "com.h"

#include "winkernel.h"

extern "C" {
const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPropertyStore = {
    0x886D8EEB, 0x8CF2, 0x4446, {0x8D, 0x02, 0xCD, 0xBA, 0x1D, 0xBD, 0xCF, 0x99}};
}

namespace {

const int GUID_STRING_CHARS = 39; // braces, 32 digits, 4 dashes and the null
const char HEX_DIGITS[] = "0123456789ABCDEF";

void PutHex(LPOLESTR* ppsz, uint32_t value, int nDigits) {
    for (int shift = (nDigits - 1) * 4; shift >= 0; shift -= 4) {
        *(*ppsz)++ = (OLECHAR)HEX_DIGITS[(value >> shift) & 0xF];
    }
}

} // namespace

STDAPI CoCreateGuid(GUID* pguid) {
    if (!pguid) {
        return E_INVALIDARG;
    }
    BYTE bytes[sizeof(GUID)];
    if (!RtlGenRandom(bytes, sizeof(bytes))) {
        return E_FAIL;
    }
    pguid->Data1 =
        (uint32_t)bytes[0] << 24 | (uint32_t)bytes[1] << 16 | (uint32_t)bytes[2] << 8 | bytes[3];
    pguid->Data2 = (uint16_t)(bytes[4] << 8 | bytes[5]);
    // RFC 4122 version 4 (random) with the standard variant.
    pguid->Data3 = (uint16_t)(0x4000 | ((bytes[6] & 0x0F) << 8) | bytes[7]);
    pguid->Data4[0] = (uint8_t)(0x80 | (bytes[8] & 0x3F));
    for (int i = 1; i < 8; i++) {
        pguid->Data4[i] = bytes[8 + i];
    }
    return S_OK;
}

STDAPI_(int) StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < GUID_STRING_CHARS) {
        return 0;
    }
    LPOLESTR p = lpsz;
    *p++ = L'{';
    PutHex(&p, rguid.Data1, 8);
    *p++ = L'-';
    PutHex(&p, rguid.Data2, 4);
    *p++ = L'-';
    PutHex(&p, rguid.Data3, 4);
    *p++ = L'-';
    PutHex(&p, rguid.Data4[0], 2);
    PutHex(&p, rguid.Data4[1], 2);
    *p++ = L'-';
    for (int i = 2; i < 8; i++) {
        PutHex(&p, rguid.Data4[i], 2);
    }
    *p++ = L'}';
    *p = 0;
    return GUID_STRING_CHARS;
}

STDAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (!lplpsz) {
        return E_INVALIDARG;
    }
    *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc(GUID_STRING_CHARS * sizeof(OLECHAR)));
    if (!*lplpsz) {
        return E_OUTOFMEMORY;
    }
    StringFromGUID2(rclsid, *lplpsz, GUID_STRING_CHARS);
    return S_OK;
}
