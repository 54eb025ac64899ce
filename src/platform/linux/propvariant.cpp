// Copying and clearing PROPVARIANT values; owned memory comes from the COM
// task allocator, as on Windows, so that callers may free it themselves.
#include "propvariant.h"

#include "winkernel.h"

namespace {

bool IsPlainValue(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
        return true;
    default:
        return false;
    }
}

// Copies cb bytes into new task memory; a copy of nothing is a null pointer.
HRESULT CopyTaskMemory(const void* pSrc, size_t cb, void** ppDest) {
    *ppDest = nullptr;
    if (cb == 0) {
        return S_OK;
    }
    *ppDest = CoTaskMemAlloc(cb);
    if (!*ppDest) {
        return E_OUTOFMEMORY;
    }
    memcpy(*ppDest, pSrc, cb);
    return S_OK;
}

} // namespace

STDAPI PropVariantClear(PROPVARIANT* pvar) {
    if (!pvar) {
        return S_OK;
    }
    switch (pvar->vt) {
    case VT_UNKNOWN:
        if (pvar->punkVal) {
            pvar->punkVal->Release();
        }
        break;
    case VT_LPWSTR:
        CoTaskMemFree(pvar->pwszVal);
        break;
    case VT_CLSID:
        CoTaskMemFree(pvar->puuid);
        break;
    case VT_VECTOR | VT_UI1:
        CoTaskMemFree(pvar->caub.pElems);
        break;
    default:
        if (!IsPlainValue(pvar->vt)) {
            return STG_E_INVALIDPARAMETER;
        }
        break;
    }
    PropVariantInit(pvar);
    return S_OK;
}

STDAPI PropVariantCopy(PROPVARIANT* pvarDest, const PROPVARIANT* pvarSrc) {
    if (!pvarDest || !pvarSrc) {
        return E_INVALIDARG;
    }
    PROPVARIANT copy = *pvarSrc;
    HRESULT hr = S_OK;
    switch (pvarSrc->vt) {
    case VT_UNKNOWN:
        if (copy.punkVal) {
            copy.punkVal->AddRef();
        }
        break;
    case VT_LPWSTR:
        if (pvarSrc->pwszVal) {
            hr = CopyTaskMemory(pvarSrc->pwszVal, (wcslen(pvarSrc->pwszVal) + 1) * sizeof(WCHAR),
                                reinterpret_cast<void**>(&copy.pwszVal));
        }
        break;
    case VT_CLSID:
        if (pvarSrc->puuid) {
            hr = CopyTaskMemory(pvarSrc->puuid, sizeof(CLSID),
                                reinterpret_cast<void**>(&copy.puuid));
        }
        break;
    case VT_VECTOR | VT_UI1:
        hr = CopyTaskMemory(pvarSrc->caub.pElems, pvarSrc->caub.cElems,
                            reinterpret_cast<void**>(&copy.caub.pElems));
        break;
    default:
        if (!IsPlainValue(pvarSrc->vt)) {
            hr = STG_E_INVALIDPARAMETER;
        }
        break;
    }
    if (FAILED(hr)) {
        PropVariantInit(pvarDest);
        return hr;
    }
    *pvarDest = copy;
    return S_OK;
}
