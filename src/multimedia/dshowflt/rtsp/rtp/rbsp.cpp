#include "rbsp.h"

HRESULT NalUnitToRbsp(const BYTE* pNal, int cbNal, CBaseBuffer* pRbsp) {
    pRbsp->ResetLength();
    if (cbNal <= 0) {
        return S_OK;
    }
    if (!pRbsp->EnsureCapacity(cbNal)) {
        return E_OUTOFMEMORY;
    }
    BYTE* pOut = pRbsp->Data();
    int nOut = 0;
    int nZeros = 0;
    for (int i = 0; i < cbNal; i++) {
        const BYTE b = pNal[i];
        if (nZeros >= 2 && b == 0x03) {
            nZeros = 0;
            continue;
        }
        nZeros = b == 0 ? nZeros + 1 : 0;
        pOut[nOut++] = b;
    }
    pRbsp->SetLength(nOut);
    return S_OK;
}
