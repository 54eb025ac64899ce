// Stream descriptors: an identifier and the media types of one stream,
// offered through the descriptor's one media type handler.
#include <mutex>
#include <vector>

#include "comptr.h"
#include "interfacetable.h"
#include "mfapi.h"
#include "mfattributes.h"
#include "mfidl.h"

namespace {

class MediaTypeHandler final : public zrlinux::RefCounted<IMFMediaTypeHandler> {
public:
    // The types are shared with the caller, not copied.
    MediaTypeHandler(DWORD cMediaTypes, IMFMediaType** apMediaTypes)
        : m_types(apMediaTypes, apMediaTypes + cMediaTypes) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const ComInterfaceEntry<MediaTypeHandler> kInterfaces[] = {
            COM_INTERFACE_ENTRY(MediaTypeHandler, IMFMediaTypeHandler),
        };
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }
    // Supported: a type with the major type, subtype and format data of one
    // of the stream's types.
    STDMETHODIMP IsMediaTypeSupported(IMFMediaType* pMediaType,
                                      IMFMediaType** ppMediaType) override {
        if (!pMediaType) {
            return E_POINTER;
        }
        if (ppMediaType) {
            *ppMediaType = nullptr;
        }
        const DWORD SAME_FORMAT = MF_MEDIATYPE_EQUAL_MAJOR_TYPES | MF_MEDIATYPE_EQUAL_FORMAT_TYPES |
                                  MF_MEDIATYPE_EQUAL_FORMAT_DATA;
        for (const ComPtr<IMFMediaType>& pType : m_types) {
            DWORD dwFlags = 0;
            if (SUCCEEDED(pType->IsEqual(pMediaType, &dwFlags)) &&
                (dwFlags & SAME_FORMAT) == SAME_FORMAT) {
                return S_OK;
            }
        }
        return MF_E_INVALIDMEDIATYPE;
    }
    STDMETHODIMP GetMediaTypeCount(DWORD* pdwTypeCount) override {
        if (!pdwTypeCount) {
            return E_POINTER;
        }
        *pdwTypeCount = (DWORD)m_types.size();
        return S_OK;
    }
    STDMETHODIMP GetMediaTypeByIndex(DWORD dwIndex, IMFMediaType** ppType) override {
        if (!ppType) {
            return E_POINTER;
        }
        return dwIndex < m_types.size() ? m_types[dwIndex].CopyTo(ppType) : MF_E_NO_MORE_TYPES;
    }
    STDMETHODIMP SetCurrentMediaType(IMFMediaType* pMediaType) override {
        if (!pMediaType) {
            return E_POINTER;
        }
        ComPtr<IMFMediaType> pCurrent(pMediaType);
        std::lock_guard<std::mutex> lock(m_lock);
        std::swap(m_pCurrent, pCurrent);
        return S_OK;
    }
    STDMETHODIMP GetCurrentMediaType(IMFMediaType** ppMediaType) override {
        if (!ppMediaType) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        return m_pCurrent ? m_pCurrent.CopyTo(ppMediaType) : MF_E_NOT_INITIALIZED;
    }
    // The major type of the current type, or of the first type while none is
    // current.
    STDMETHODIMP GetMajorType(GUID* pguidMajorType) override {
        if (!pguidMajorType) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        return (m_pCurrent ? m_pCurrent : m_types[0])->GetMajorType(pguidMajorType);
    }

private:
    const std::vector<ComPtr<IMFMediaType>> m_types; // never empty
    std::mutex m_lock;
    ComPtr<IMFMediaType> m_pCurrent;
};

class StreamDescriptor final : public zrlinux::AttributesImpl<IMFStreamDescriptor> {
public:
    StreamDescriptor(DWORD dwIdentifier, MediaTypeHandler* pHandler)
        : m_dwIdentifier(dwIdentifier), m_pHandler(pHandler) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const ComInterfaceEntry<StreamDescriptor> kInterfaces[] = {
            COM_INTERFACE_ENTRY(StreamDescriptor, IMFStreamDescriptor),
            COM_INTERFACE_ENTRY(StreamDescriptor, IMFAttributes),
        };
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }
    STDMETHODIMP GetStreamIdentifier(DWORD* pdwStreamIdentifier) override {
        if (!pdwStreamIdentifier) {
            return E_POINTER;
        }
        *pdwStreamIdentifier = m_dwIdentifier;
        return S_OK;
    }
    STDMETHODIMP GetMediaTypeHandler(IMFMediaTypeHandler** ppMediaTypeHandler) override {
        if (!ppMediaTypeHandler) {
            return E_POINTER;
        }
        *ppMediaTypeHandler = m_pHandler.Get();
        m_pHandler->AddRef();
        return S_OK;
    }

private:
    const DWORD m_dwIdentifier;
    const ComPtr<MediaTypeHandler> m_pHandler;
};

} // namespace

STDAPI MFCreateStreamDescriptor(DWORD dwStreamIdentifier, DWORD cMediaTypes,
                                IMFMediaType** apMediaTypes, IMFStreamDescriptor** ppDescriptor) {
    if (!ppDescriptor) {
        return E_POINTER;
    }
    *ppDescriptor = nullptr;
    if (cMediaTypes == 0 || !apMediaTypes) {
        return E_INVALIDARG;
    }
    for (DWORD i = 0; i < cMediaTypes; i++) {
        if (!apMediaTypes[i]) {
            return E_INVALIDARG;
        }
    }
    ComPtr<MediaTypeHandler> pHandler;
    pHandler.Attach(new (std::nothrow) MediaTypeHandler(cMediaTypes, apMediaTypes));
    if (!pHandler) {
        return E_OUTOFMEMORY;
    }
    return zrlinux::CreateComObject<StreamDescriptor>(ppDescriptor, dwStreamIdentifier,
                                                      pHandler.Get());
}
