// The attribute store and the stand-alone attribute object of
// MFCreateAttributes.
#include "mfattributes.h"

#include "interfacetable.h"
#include "mfapi.h"

namespace zrlinux {

namespace {

bool IsAttributeType(VARTYPE vt) {
    switch (vt) {
    case MF_ATTRIBUTE_UINT32:
    case MF_ATTRIBUTE_UINT64:
    case MF_ATTRIBUTE_DOUBLE:
    case MF_ATTRIBUTE_GUID:
    case MF_ATTRIBUTE_STRING:
    case MF_ATTRIBUTE_BLOB:
    case MF_ATTRIBUTE_IUNKNOWN:
        return true;
    default:
        return false;
    }
}

} // namespace

bool AttributeValuesEqual(const PROPVARIANT& a, const PROPVARIANT& b) {
    if (a.vt != b.vt) {
        return false;
    }
    switch (a.vt) {
    case MF_ATTRIBUTE_UINT32:
        return a.ulVal == b.ulVal;
    case MF_ATTRIBUTE_UINT64:
        return a.uhVal.QuadPart == b.uhVal.QuadPart;
    case MF_ATTRIBUTE_DOUBLE:
        return a.dblVal == b.dblVal;
    case MF_ATTRIBUTE_GUID:
        return IsEqualGUID(*a.puuid, *b.puuid);
    case MF_ATTRIBUTE_STRING:
        return wcscmp(a.pwszVal, b.pwszVal) == 0;
    case MF_ATTRIBUTE_BLOB:
        return a.caub.cElems == b.caub.cElems &&
               (a.caub.cElems == 0 || memcmp(a.caub.pElems, b.caub.pElems, a.caub.cElems) == 0);
    case MF_ATTRIBUTE_IUNKNOWN:
        return a.punkVal == b.punkVal;
    default:
        return false;
    }
}

const AttributeItem* FindItem(const AttributeItems& items, REFGUID key) {
    for (const AttributeItem& item : items) {
        if (IsEqualGUID(item.key, key)) {
            return &item;
        }
    }
    return nullptr;
}

bool ItemsMatch(const AttributeItems& small, const AttributeItems& large, bool bIntersection) {
    for (const AttributeItem& item : small) {
        const AttributeItem* pOther = FindItem(large, item.key);
        if (pOther ? !AttributeValuesEqual(item.value, pOther->value) : !bIntersection) {
            return false;
        }
    }
    return true;
}

HRESULT CopyItemsOf(IMFAttributes* pAttributes, AttributeItems* pItems) {
    pAttributes->LockStore();
    UINT32 nItems = 0;
    HRESULT hr = pAttributes->GetCount(&nItems);
    for (UINT32 i = 0; SUCCEEDED(hr) && i < nItems; i++) {
        pItems->emplace_back(GUID_NULL);
        hr = pAttributes->GetItemByIndex(i, &pItems->back().key, &pItems->back().value);
    }
    pAttributes->UnlockStore();
    return hr;
}

AttributeItem& AttributeItem::operator=(AttributeItem&& other) noexcept {
    if (this != &other) {
        PropVariantClear(&value);
        key = other.key;
        value = other.value;
        PropVariantInit(&other.value);
    }
    return *this;
}

AttributeItem* AttributeStore::FindLocked(REFGUID guidKey) {
    return const_cast<AttributeItem*>(FindItem(m_items, guidKey));
}

template <class Read>
HRESULT AttributeStore::ReadTyped(REFGUID guidKey, VARTYPE vt, Read read) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    AttributeItem* pItem = FindLocked(guidKey);
    if (!pItem) {
        return MF_E_ATTRIBUTENOTFOUND;
    }
    if (pItem->value.vt != vt) {
        return MF_E_INVALIDTYPE;
    }
    return read(pItem->value);
}

HRESULT AttributeStore::GetItem(REFGUID guidKey, PROPVARIANT* pValue) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    AttributeItem* pItem = FindLocked(guidKey);
    if (!pItem) {
        return MF_E_ATTRIBUTENOTFOUND;
    }
    return pValue ? PropVariantCopy(pValue, &pItem->value) : S_OK;
}

HRESULT AttributeStore::GetItemType(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType) {
    if (!pType) {
        return E_POINTER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    AttributeItem* pItem = FindLocked(guidKey);
    if (!pItem) {
        return MF_E_ATTRIBUTENOTFOUND;
    }
    *pType = (MF_ATTRIBUTE_TYPE)pItem->value.vt;
    return S_OK;
}

HRESULT AttributeStore::CompareItem(REFGUID guidKey, REFPROPVARIANT Value, BOOL* pbResult) {
    if (!pbResult) {
        return E_POINTER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    AttributeItem* pItem = FindLocked(guidKey);
    *pbResult = pItem && AttributeValuesEqual(pItem->value, Value);
    return S_OK;
}

HRESULT AttributeStore::Compare(IMFAttributes* pTheirs, MF_ATTRIBUTES_MATCH_TYPE MatchType,
                                BOOL* pbResult) {
    if (!pTheirs || !pbResult) {
        return E_POINTER;
    }
    *pbResult = FALSE;
    // Their items are copied first, so that no two store locks are held at
    // once (pTheirs may be this very store).
    AttributeItems theirs;
    HRESULT hr = CopyItemsOf(pTheirs, &theirs);
    if (FAILED(hr)) {
        return hr;
    }
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    switch (MatchType) {
    case MF_ATTRIBUTES_MATCH_OUR_ITEMS:
        *pbResult = ItemsMatch(m_items, theirs, false);
        break;
    case MF_ATTRIBUTES_MATCH_THEIR_ITEMS:
        *pbResult = ItemsMatch(theirs, m_items, false);
        break;
    case MF_ATTRIBUTES_MATCH_ALL_ITEMS:
        *pbResult = m_items.size() == theirs.size() && ItemsMatch(m_items, theirs, false);
        break;
    case MF_ATTRIBUTES_MATCH_INTERSECTION:
        *pbResult = ItemsMatch(m_items, theirs, true);
        break;
    case MF_ATTRIBUTES_MATCH_SMALLER:
        *pbResult = m_items.size() <= theirs.size() ? ItemsMatch(m_items, theirs, false)
                                                    : ItemsMatch(theirs, m_items, false);
        break;
    default:
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT AttributeStore::GetUINT32(REFGUID guidKey, UINT32* punValue) {
    if (!punValue) {
        return E_POINTER;
    }
    return ReadTyped(guidKey, MF_ATTRIBUTE_UINT32, [punValue](const PROPVARIANT& v) {
        *punValue = v.ulVal;
        return S_OK;
    });
}

HRESULT AttributeStore::GetUINT64(REFGUID guidKey, UINT64* punValue) {
    if (!punValue) {
        return E_POINTER;
    }
    return ReadTyped(guidKey, MF_ATTRIBUTE_UINT64, [punValue](const PROPVARIANT& v) {
        *punValue = v.uhVal.QuadPart;
        return S_OK;
    });
}

HRESULT AttributeStore::GetDouble(REFGUID guidKey, double* pfValue) {
    if (!pfValue) {
        return E_POINTER;
    }
    return ReadTyped(guidKey, MF_ATTRIBUTE_DOUBLE, [pfValue](const PROPVARIANT& v) {
        *pfValue = v.dblVal;
        return S_OK;
    });
}

HRESULT AttributeStore::GetGUID(REFGUID guidKey, GUID* pguidValue) {
    if (!pguidValue) {
        return E_POINTER;
    }
    return ReadTyped(guidKey, MF_ATTRIBUTE_GUID, [pguidValue](const PROPVARIANT& v) {
        *pguidValue = *v.puuid;
        return S_OK;
    });
}

HRESULT AttributeStore::GetStringLength(REFGUID guidKey, UINT32* pcchLength) {
    if (!pcchLength) {
        return E_POINTER;
    }
    return ReadTyped(guidKey, MF_ATTRIBUTE_STRING, [pcchLength](const PROPVARIANT& v) {
        *pcchLength = (UINT32)wcslen(v.pwszVal);
        return S_OK;
    });
}

HRESULT AttributeStore::GetString(REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize,
                                  UINT32* pcchLength) {
    if (!pwszValue) {
        return E_POINTER;
    }
    return ReadTyped(guidKey, MF_ATTRIBUTE_STRING, [=](const PROPVARIANT& v) {
        size_t cch = wcslen(v.pwszVal);
        if (cch >= cchBufSize) {
            return E_NOT_SUFFICIENT_BUFFER;
        }
        wmemcpy(pwszValue, v.pwszVal, cch + 1);
        if (pcchLength) {
            *pcchLength = (UINT32)cch;
        }
        return S_OK;
    });
}

HRESULT AttributeStore::GetAllocatedString(REFGUID guidKey, LPWSTR* ppwszValue,
                                           UINT32* pcchLength) {
    if (!ppwszValue || !pcchLength) {
        return E_POINTER;
    }
    *ppwszValue = nullptr;
    *pcchLength = 0;
    return ReadTyped(guidKey, MF_ATTRIBUTE_STRING, [=](const PROPVARIANT& v) {
        size_t cch = wcslen(v.pwszVal);
        *ppwszValue = static_cast<LPWSTR>(CoTaskMemAlloc((cch + 1) * sizeof(WCHAR)));
        if (!*ppwszValue) {
            return E_OUTOFMEMORY;
        }
        wmemcpy(*ppwszValue, v.pwszVal, cch + 1);
        *pcchLength = (UINT32)cch;
        return S_OK;
    });
}

HRESULT AttributeStore::GetBlobSize(REFGUID guidKey, UINT32* pcbBlobSize) {
    if (!pcbBlobSize) {
        return E_POINTER;
    }
    return ReadTyped(guidKey, MF_ATTRIBUTE_BLOB, [pcbBlobSize](const PROPVARIANT& v) {
        *pcbBlobSize = v.caub.cElems;
        return S_OK;
    });
}

HRESULT AttributeStore::GetBlob(REFGUID guidKey, UINT8* pBuf, UINT32 cbBufSize,
                                UINT32* pcbBlobSize) {
    if (!pBuf) {
        return E_POINTER;
    }
    return ReadTyped(guidKey, MF_ATTRIBUTE_BLOB, [=](const PROPVARIANT& v) {
        if (v.caub.cElems > cbBufSize) {
            return E_NOT_SUFFICIENT_BUFFER;
        }
        if (v.caub.cElems) {
            memcpy(pBuf, v.caub.pElems, v.caub.cElems);
        }
        if (pcbBlobSize) {
            *pcbBlobSize = v.caub.cElems;
        }
        return S_OK;
    });
}

HRESULT AttributeStore::GetAllocatedBlob(REFGUID guidKey, UINT8** ppBuf, UINT32* pcbSize) {
    if (!ppBuf || !pcbSize) {
        return E_POINTER;
    }
    *ppBuf = nullptr;
    *pcbSize = 0;
    return ReadTyped(guidKey, MF_ATTRIBUTE_BLOB, [=](const PROPVARIANT& v) {
        *ppBuf = static_cast<UINT8*>(CoTaskMemAlloc(v.caub.cElems));
        if (!*ppBuf) {
            return E_OUTOFMEMORY;
        }
        if (v.caub.cElems) {
            memcpy(*ppBuf, v.caub.pElems, v.caub.cElems);
        }
        *pcbSize = v.caub.cElems;
        return S_OK;
    });
}

HRESULT AttributeStore::GetUnknown(REFGUID guidKey, REFIID riid, LPVOID* ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    return ReadTyped(guidKey, MF_ATTRIBUTE_IUNKNOWN, [&](const PROPVARIANT& v) {
        return v.punkVal ? v.punkVal->QueryInterface(riid, ppv) : E_NOINTERFACE;
    });
}

HRESULT AttributeStore::SetItem(REFGUID guidKey, REFPROPVARIANT Value) {
    if (!IsAttributeType(Value.vt)) {
        return MF_E_INVALIDTYPE;
    }
    if ((Value.vt == MF_ATTRIBUTE_STRING && !Value.pwszVal) ||
        (Value.vt == MF_ATTRIBUTE_GUID && !Value.puuid)) {
        return E_INVALIDARG;
    }
    AttributeItem item(guidKey);
    HRESULT hr = PropVariantCopy(&item.value, &Value);
    if (FAILED(hr)) {
        return hr;
    }
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    AttributeItem* pItem = FindLocked(guidKey);
    if (pItem) {
        // The replaced value is released after the lock is left.
        std::swap(pItem->value, item.value);
        return S_OK;
    }
    m_items.push_back(std::move(item));
    return S_OK;
}

HRESULT AttributeStore::DeleteItem(REFGUID guidKey) {
    AttributeItems removed;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (auto it = m_items.begin(); it != m_items.end(); ++it) {
        if (IsEqualGUID(it->key, guidKey)) {
            removed.push_back(std::move(*it));
            m_items.erase(it);
            break;
        }
    }
    return S_OK;
}

HRESULT AttributeStore::DeleteAllItems() {
    AttributeItems removed;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    removed.swap(m_items);
    return S_OK;
}

HRESULT AttributeStore::SetUINT32(REFGUID guidKey, UINT32 unValue) {
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = MF_ATTRIBUTE_UINT32;
    v.ulVal = unValue;
    return SetItem(guidKey, v);
}

HRESULT AttributeStore::SetUINT64(REFGUID guidKey, UINT64 unValue) {
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = MF_ATTRIBUTE_UINT64;
    v.uhVal.QuadPart = unValue;
    return SetItem(guidKey, v);
}

HRESULT AttributeStore::SetDouble(REFGUID guidKey, double fValue) {
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = MF_ATTRIBUTE_DOUBLE;
    v.dblVal = fValue;
    return SetItem(guidKey, v);
}

HRESULT AttributeStore::SetGUID(REFGUID guidKey, REFGUID guidValue) {
    GUID value = guidValue;
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = MF_ATTRIBUTE_GUID;
    v.puuid = &value;
    return SetItem(guidKey, v);
}

HRESULT AttributeStore::SetString(REFGUID guidKey, LPCWSTR wszValue) {
    if (!wszValue) {
        return E_POINTER;
    }
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = MF_ATTRIBUTE_STRING;
    v.pwszVal = const_cast<LPWSTR>(wszValue);
    return SetItem(guidKey, v);
}

HRESULT AttributeStore::SetBlob(REFGUID guidKey, const UINT8* pBuf, UINT32 cbBufSize) {
    if (!pBuf && cbBufSize) {
        return E_POINTER;
    }
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = MF_ATTRIBUTE_BLOB;
    v.caub.cElems = cbBufSize;
    v.caub.pElems = const_cast<UINT8*>(pBuf);
    return SetItem(guidKey, v);
}

HRESULT AttributeStore::SetUnknown(REFGUID guidKey, IUnknown* pUnknown) {
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = MF_ATTRIBUTE_IUNKNOWN;
    v.punkVal = pUnknown;
    return SetItem(guidKey, v);
}

HRESULT AttributeStore::LockStore() {
    m_lock.lock();
    return S_OK;
}

HRESULT AttributeStore::UnlockStore() {
    m_lock.unlock();
    return S_OK;
}

HRESULT AttributeStore::GetCount(UINT32* pcItems) {
    if (!pcItems) {
        return E_POINTER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    *pcItems = (UINT32)m_items.size();
    return S_OK;
}

HRESULT AttributeStore::GetItemByIndex(UINT32 unIndex, GUID* pguidKey, PROPVARIANT* pValue) {
    if (!pguidKey) {
        return E_POINTER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (unIndex >= m_items.size()) {
        return E_INVALIDARG;
    }
    *pguidKey = m_items[unIndex].key;
    return pValue ? PropVariantCopy(pValue, &m_items[unIndex].value) : S_OK;
}

HRESULT AttributeStore::CopyAllItems(IMFAttributes* pDest) {
    if (!pDest) {
        return E_POINTER;
    }
    AttributeItems items;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        for (const AttributeItem& item : m_items) {
            items.emplace_back(item.key);
            HRESULT hr = PropVariantCopy(&items.back().value, &item.value);
            if (FAILED(hr)) {
                return hr;
            }
        }
    }
    HRESULT hr = pDest->DeleteAllItems();
    for (size_t i = 0; SUCCEEDED(hr) && i < items.size(); i++) {
        hr = pDest->SetItem(items[i].key, items[i].value);
    }
    return hr;
}

namespace {

class Attributes final : public AttributesImpl<IMFAttributes> {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const ComInterfaceEntry<Attributes> kInterfaces[] = {
            COM_INTERFACE_ENTRY(Attributes, IMFAttributes),
        };
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }
};

} // namespace

} // namespace zrlinux

STDAPI MFCreateAttributes(IMFAttributes** ppMFAttributes, UINT32) {
    return zrlinux::CreateComObject<zrlinux::Attributes>(ppMFAttributes);
}
