// Presentation descriptors: the stream descriptors of a presentation, each
// selected or not, with attributes such as the duration.
#include <mutex>
#include <vector>

#include "comptr.h"
#include "interfacetable.h"
#include "mfapi.h"
#include "mfattributes.h"
#include "mfidl.h"

namespace {

struct PresentationStream {
    ComPtr<IMFStreamDescriptor> pDescriptor;
    bool bSelected;
};

class PresentationDescriptor final : public zrlinux::AttributesImpl<IMFPresentationDescriptor> {
public:
    explicit PresentationDescriptor(std::vector<PresentationStream> streams)
        : m_streams(std::move(streams)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const ComInterfaceEntry<PresentationDescriptor> kInterfaces[] = {
            COM_INTERFACE_ENTRY(PresentationDescriptor, IMFPresentationDescriptor),
            COM_INTERFACE_ENTRY(PresentationDescriptor, IMFAttributes),
        };
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }
    STDMETHODIMP GetStreamDescriptorCount(DWORD* pdwDescriptorCount) override {
        if (!pdwDescriptorCount) {
            return E_POINTER;
        }
        *pdwDescriptorCount = (DWORD)m_streams.size();
        return S_OK;
    }
    STDMETHODIMP GetStreamDescriptorByIndex(DWORD dwIndex, BOOL* pfSelected,
                                            IMFStreamDescriptor** ppDescriptor) override {
        if (!pfSelected || !ppDescriptor) {
            return E_POINTER;
        }
        if (dwIndex >= m_streams.size()) {
            return E_INVALIDARG;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        *pfSelected = m_streams[dwIndex].bSelected;
        return m_streams[dwIndex].pDescriptor.CopyTo(ppDescriptor);
    }
    STDMETHODIMP SelectStream(DWORD dwDescriptorIndex) override {
        return SetSelected(dwDescriptorIndex, true);
    }
    STDMETHODIMP DeselectStream(DWORD dwDescriptorIndex) override {
        return SetSelected(dwDescriptorIndex, false);
    }
    // The clone shares the stream descriptors and copies the selection and
    // the attributes.
    STDMETHODIMP Clone(IMFPresentationDescriptor** ppPresentationDescriptor) override {
        if (!ppPresentationDescriptor) {
            return E_POINTER;
        }
        *ppPresentationDescriptor = nullptr;
        ComPtr<PresentationDescriptor> pClone;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            pClone.Attach(new (std::nothrow) PresentationDescriptor(m_streams));
        }
        if (!pClone) {
            return E_OUTOFMEMORY;
        }
        HRESULT hr = CopyAllItems(pClone.Get());
        if (SUCCEEDED(hr)) {
            *ppPresentationDescriptor = pClone.Detach();
        }
        return hr;
    }

private:
    HRESULT SetSelected(DWORD dwIndex, bool bSelected) {
        if (dwIndex >= m_streams.size()) {
            return E_INVALIDARG;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_streams[dwIndex].bSelected = bSelected;
        return S_OK;
    }

    std::mutex m_lock; // guards the selection; the streams never change
    std::vector<PresentationStream> m_streams;
};

} // namespace

STDAPI MFCreatePresentationDescriptor(DWORD cStreamDescriptors,
                                      IMFStreamDescriptor** apStreamDescriptors,
                                      IMFPresentationDescriptor** ppPresentationDescriptor) {
    if (!ppPresentationDescriptor) {
        return E_POINTER;
    }
    *ppPresentationDescriptor = nullptr;
    if (cStreamDescriptors == 0 || !apStreamDescriptors) {
        return E_INVALIDARG;
    }
    std::vector<PresentationStream> streams;
    for (DWORD i = 0; i < cStreamDescriptors; i++) {
        if (!apStreamDescriptors[i]) {
            return E_INVALIDARG;
        }
        streams.push_back({apStreamDescriptors[i], false});
    }
    return zrlinux::CreateComObject<PresentationDescriptor>(ppPresentationDescriptor,
                                                            std::move(streams));
}
