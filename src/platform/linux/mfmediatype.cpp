// Media types: attribute stores whose major type, subtype and format
// attributes are compared as a whole. The Linux layer has no conversion from
// or to the DirectShow media type record; callers bring their own.
#include "interfacetable.h"
#include "mfapi.h"
#include "mfattributes.h"

namespace {

// Attributes that do not decide whether two formats are the same.
bool IsFormatDataKey(REFGUID key) {
    return !IsEqualGUID(key, MF_MT_USER_DATA) && !IsEqualGUID(key, MF_MT_FRAME_RATE_RANGE_MIN) &&
           !IsEqualGUID(key, MF_MT_FRAME_RATE_RANGE_MAX);
}

zrlinux::AttributeItems FormatDataItems(zrlinux::AttributeItems items) {
    zrlinux::AttributeItems kept;
    for (zrlinux::AttributeItem& item : items) {
        if (IsFormatDataKey(item.key)) {
            kept.push_back(std::move(item));
        }
    }
    return kept;
}

// Both values equal, or both absent.
bool SameItem(const zrlinux::AttributeItems& ours, const zrlinux::AttributeItems& theirs,
              REFGUID key) {
    const zrlinux::AttributeItem* pOurs = zrlinux::FindItem(ours, key);
    const zrlinux::AttributeItem* pTheirs = zrlinux::FindItem(theirs, key);
    if (!pOurs || !pTheirs) {
        return pOurs == pTheirs;
    }
    return zrlinux::AttributeValuesEqual(pOurs->value, pTheirs->value);
}

class MediaType final : public zrlinux::AttributesImpl<IMFMediaType> {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const ComInterfaceEntry<MediaType> kInterfaces[] = {
            COM_INTERFACE_ENTRY(MediaType, IMFMediaType),
            COM_INTERFACE_ENTRY(MediaType, IMFAttributes),
        };
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }
    STDMETHODIMP GetMajorType(GUID* pguidMajorType) override {
        return m_Attributes.GetGUID(MF_MT_MAJOR_TYPE, pguidMajorType);
    }
    // A format is compressed unless all its samples are independent.
    STDMETHODIMP IsCompressedFormat(BOOL* pfCompressed) override {
        if (!pfCompressed) {
            return E_POINTER;
        }
        *pfCompressed = MFGetAttributeUINT32(this, MF_MT_ALL_SAMPLES_INDEPENDENT, FALSE) == FALSE;
        return S_OK;
    }
    STDMETHODIMP IsEqual(IMFMediaType* pIMediaType, DWORD* pdwFlags) override;
    STDMETHODIMP GetRepresentation(GUID, LPVOID*) override { return E_NOTIMPL; }
    STDMETHODIMP FreeRepresentation(GUID, LPVOID) override { return E_NOTIMPL; }
};

// S_OK when all four MF_MEDIATYPE_EQUAL_ flags are set, S_FALSE otherwise;
// E_INVALIDARG when either type lacks a major type.
STDMETHODIMP MediaType::IsEqual(IMFMediaType* pIMediaType, DWORD* pdwFlags) {
    if (!pIMediaType || !pdwFlags) {
        return E_POINTER;
    }
    *pdwFlags = 0;
    GUID ourMajor, theirMajor;
    if (FAILED(GetMajorType(&ourMajor)) || FAILED(pIMediaType->GetMajorType(&theirMajor))) {
        return E_INVALIDARG;
    }
    zrlinux::AttributeItems ours, theirs;
    HRESULT hr = zrlinux::CopyItemsOf(this, &ours);
    if (SUCCEEDED(hr)) {
        hr = zrlinux::CopyItemsOf(pIMediaType, &theirs);
    }
    if (FAILED(hr)) {
        return hr;
    }
    if (IsEqualGUID(ourMajor, theirMajor)) {
        *pdwFlags |= MF_MEDIATYPE_EQUAL_MAJOR_TYPES;
    }
    if (SameItem(ours, theirs, MF_MT_SUBTYPE)) {
        *pdwFlags |= MF_MEDIATYPE_EQUAL_FORMAT_TYPES;
    }
    if (SameItem(ours, theirs, MF_MT_USER_DATA)) {
        *pdwFlags |= MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA;
    }
    // The format data match when the smaller set of attributes is part of the
    // larger one.
    zrlinux::AttributeItems ourData = FormatDataItems(std::move(ours));
    zrlinux::AttributeItems theirData = FormatDataItems(std::move(theirs));
    if (ourData.size() <= theirData.size() ? zrlinux::ItemsMatch(ourData, theirData, false)
                                           : zrlinux::ItemsMatch(theirData, ourData, false)) {
        *pdwFlags |= MF_MEDIATYPE_EQUAL_FORMAT_DATA;
    }
    const DWORD ALL_EQUAL = MF_MEDIATYPE_EQUAL_MAJOR_TYPES | MF_MEDIATYPE_EQUAL_FORMAT_TYPES |
                            MF_MEDIATYPE_EQUAL_FORMAT_DATA | MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA;
    return *pdwFlags == ALL_EQUAL ? S_OK : S_FALSE;
}

} // namespace

STDAPI MFCreateMediaType(IMFMediaType** ppMFType) {
    return zrlinux::CreateComObject<MediaType>(ppMFType);
}

STDAPI MFInitMediaTypeFromAMMediaType(IMFMediaType*, const AM_MEDIA_TYPE*) {
    return E_NOTIMPL;
}
