// Memory buffers: a fixed block of bytes with a current length.
#include <memory>

#include "comobject.h"
#include "interfacetable.h"
#include "mfapi.h"

namespace {

class MemoryBuffer final : public zrlinux::RefCounted<IMFMediaBuffer> {
public:
    MemoryBuffer(BYTE* pbData, DWORD cbMaxLength) : m_pbData(pbData), m_cbMaxLength(cbMaxLength) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const ComInterfaceEntry<MemoryBuffer> kInterfaces[] = {
            COM_INTERFACE_ENTRY(MemoryBuffer, IMFMediaBuffer),
        };
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }

    // The bytes stay where they are while the buffer lives, so locking only
    // hands out the pointer.
    STDMETHODIMP Lock(BYTE** ppbBuffer, DWORD* pcbMaxLength, DWORD* pcbCurrentLength) override {
        if (!ppbBuffer) {
            return E_POINTER;
        }
        *ppbBuffer = m_pbData.get();
        if (pcbMaxLength) {
            *pcbMaxLength = m_cbMaxLength;
        }
        if (pcbCurrentLength) {
            *pcbCurrentLength = m_cbCurrentLength;
        }
        return S_OK;
    }
    STDMETHODIMP Unlock() override { return S_OK; }
    STDMETHODIMP GetCurrentLength(DWORD* pcbCurrentLength) override {
        if (!pcbCurrentLength) {
            return E_POINTER;
        }
        *pcbCurrentLength = m_cbCurrentLength;
        return S_OK;
    }
    STDMETHODIMP SetCurrentLength(DWORD cbCurrentLength) override {
        if (cbCurrentLength > m_cbMaxLength) {
            return E_INVALIDARG;
        }
        m_cbCurrentLength = cbCurrentLength;
        return S_OK;
    }
    STDMETHODIMP GetMaxLength(DWORD* pcbMaxLength) override {
        if (!pcbMaxLength) {
            return E_POINTER;
        }
        *pcbMaxLength = m_cbMaxLength;
        return S_OK;
    }

private:
    std::unique_ptr<BYTE[]> m_pbData;
    const DWORD m_cbMaxLength;
    DWORD m_cbCurrentLength = 0;
};

} // namespace

STDAPI MFCreateMemoryBuffer(DWORD cbMaxLength, IMFMediaBuffer** ppBuffer) {
    if (!ppBuffer) {
        return E_POINTER;
    }
    *ppBuffer = nullptr;
    // An empty buffer still gets a block, so that Lock never hands out null.
    std::unique_ptr<BYTE[]> pbData(new (std::nothrow) BYTE[cbMaxLength ? cbMaxLength : 1]);
    if (!pbData) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = zrlinux::CreateComObject<MemoryBuffer>(ppBuffer, pbData.get(), cbMaxLength);
    if (SUCCEEDED(hr)) {
        pbData.release();
    }
    return hr;
}
