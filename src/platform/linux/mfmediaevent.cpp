// Media events: a type, an extended type, a status and a value, with
// attributes.
#include "comptr.h"
#include "interfacetable.h"
#include "mfapi.h"
#include "mfattributes.h"

namespace {

class MediaEvent final : public zrlinux::AttributesImpl<IMFMediaEvent> {
public:
    // The value is copied by the creator, which checks the copy.
    MediaEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus)
        : m_met(met), m_guidExtendedType(guidExtendedType), m_hrStatus(hrStatus) {
        PropVariantInit(&m_value);
    }
    ~MediaEvent() override { PropVariantClear(&m_value); }

    PROPVARIANT* Value() { return &m_value; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const ComInterfaceEntry<MediaEvent> kInterfaces[] = {
            COM_INTERFACE_ENTRY(MediaEvent, IMFMediaEvent),
            COM_INTERFACE_ENTRY(MediaEvent, IMFAttributes),
        };
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }
    STDMETHODIMP GetType(MediaEventType* pmet) override {
        if (!pmet) {
            return E_POINTER;
        }
        *pmet = m_met;
        return S_OK;
    }
    STDMETHODIMP GetExtendedType(GUID* pguidExtendedType) override {
        if (!pguidExtendedType) {
            return E_POINTER;
        }
        *pguidExtendedType = m_guidExtendedType;
        return S_OK;
    }
    STDMETHODIMP GetStatus(HRESULT* phrStatus) override {
        if (!phrStatus) {
            return E_POINTER;
        }
        *phrStatus = m_hrStatus;
        return S_OK;
    }
    STDMETHODIMP GetValue(PROPVARIANT* pvValue) override {
        if (!pvValue) {
            return E_POINTER;
        }
        return PropVariantCopy(pvValue, &m_value);
    }

private:
    const MediaEventType m_met;
    const GUID m_guidExtendedType;
    const HRESULT m_hrStatus;
    PROPVARIANT m_value;
};

} // namespace

STDAPI MFCreateMediaEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                          const PROPVARIANT* pvValue, IMFMediaEvent** ppEvent) {
    if (!ppEvent) {
        return E_POINTER;
    }
    *ppEvent = nullptr;
    ComPtr<MediaEvent> pEvent;
    pEvent.Attach(new (std::nothrow) MediaEvent(met, guidExtendedType, hrStatus));
    if (!pEvent) {
        return E_OUTOFMEMORY;
    }
    if (pvValue) {
        HRESULT hr = PropVariantCopy(pEvent->Value(), pvValue);
        if (FAILED(hr)) {
            return hr;
        }
    }
    *ppEvent = pEvent.Detach();
    return S_OK;
}
