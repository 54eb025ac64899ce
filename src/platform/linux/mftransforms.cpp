// Transform enumeration. No Media Foundation transform (decoder, encoder) is
// registered on Linux, so every enumeration finds none.
#include "mfapi.h"

STDAPI MFTEnumEx(GUID, UINT32, const MFT_REGISTER_TYPE_INFO*, const MFT_REGISTER_TYPE_INFO*,
                 IMFActivate*** pppMFTActivate, UINT32* pnumMFTActivate) {
    if (!pppMFTActivate || !pnumMFTActivate) {
        return E_POINTER;
    }
    *pppMFTActivate = nullptr;
    *pnumMFTActivate = 0;
    return S_OK;
}
