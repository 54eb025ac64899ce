// Internal to the Linux platform layer: the attribute store behind every
// object that is an IMFAttributes (attribute stores, samples, events, media
// types, stream and presentation descriptors).
#pragma once

#include <mutex>
#include <vector>

#include "comobject.h"
#include "mferror_codes.h"
#include "mfobjects.h"

namespace zrlinux {

// One key and its value, which the item owns.
struct AttributeItem {
    GUID key;
    PROPVARIANT value;

    AttributeItem(REFGUID k) : key(k) { PropVariantInit(&value); }
    AttributeItem(AttributeItem&& other) noexcept : key(other.key), value(other.value) {
        PropVariantInit(&other.value);
    }
    AttributeItem& operator=(AttributeItem&& other) noexcept;
    ~AttributeItem() { PropVariantClear(&value); }
};
typedef std::vector<AttributeItem> AttributeItems;

// Values compare by type and then: objects by identity, strings, GUIDs and
// blobs by content, numbers by value.
bool AttributeValuesEqual(const PROPVARIANT& a, const PROPVARIANT& b);
// The item of key, or null.
const AttributeItem* FindItem(const AttributeItems& items, REFGUID key);
// A copy of every item of an attribute object, taken under its store lock.
HRESULT CopyItemsOf(IMFAttributes* pAttributes, AttributeItems* pItems);
// Every item of small is in large with an equal value; with bIntersection,
// items whose key large lacks are skipped.
bool ItemsMatch(const AttributeItems& small, const AttributeItems& large, bool bIntersection);

// The items in the order they were first set, under a recursive lock that
// LockStore holds across calls. Methods have the meaning and results of the
// IMFAttributes methods of the same name.
class AttributeStore {
public:
    HRESULT GetItem(REFGUID guidKey, PROPVARIANT* pValue);
    HRESULT GetItemType(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType);
    HRESULT CompareItem(REFGUID guidKey, REFPROPVARIANT Value, BOOL* pbResult);
    HRESULT Compare(IMFAttributes* pTheirs, MF_ATTRIBUTES_MATCH_TYPE MatchType, BOOL* pbResult);
    HRESULT GetUINT32(REFGUID guidKey, UINT32* punValue);
    HRESULT GetUINT64(REFGUID guidKey, UINT64* punValue);
    HRESULT GetDouble(REFGUID guidKey, double* pfValue);
    HRESULT GetGUID(REFGUID guidKey, GUID* pguidValue);
    HRESULT GetStringLength(REFGUID guidKey, UINT32* pcchLength);
    HRESULT GetString(REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize, UINT32* pcchLength);
    HRESULT GetAllocatedString(REFGUID guidKey, LPWSTR* ppwszValue, UINT32* pcchLength);
    HRESULT GetBlobSize(REFGUID guidKey, UINT32* pcbBlobSize);
    HRESULT GetBlob(REFGUID guidKey, UINT8* pBuf, UINT32 cbBufSize, UINT32* pcbBlobSize);
    HRESULT GetAllocatedBlob(REFGUID guidKey, UINT8** ppBuf, UINT32* pcbSize);
    HRESULT GetUnknown(REFGUID guidKey, REFIID riid, LPVOID* ppv);
    HRESULT SetItem(REFGUID guidKey, REFPROPVARIANT Value);
    HRESULT DeleteItem(REFGUID guidKey);
    HRESULT DeleteAllItems();
    HRESULT SetUINT32(REFGUID guidKey, UINT32 unValue);
    HRESULT SetUINT64(REFGUID guidKey, UINT64 unValue);
    HRESULT SetDouble(REFGUID guidKey, double fValue);
    HRESULT SetGUID(REFGUID guidKey, REFGUID guidValue);
    HRESULT SetString(REFGUID guidKey, LPCWSTR wszValue);
    HRESULT SetBlob(REFGUID guidKey, const UINT8* pBuf, UINT32 cbBufSize);
    HRESULT SetUnknown(REFGUID guidKey, IUnknown* pUnknown);
    HRESULT LockStore();
    HRESULT UnlockStore();
    HRESULT GetCount(UINT32* pcItems);
    HRESULT GetItemByIndex(UINT32 unIndex, GUID* pguidKey, PROPVARIANT* pValue);
    HRESULT CopyAllItems(IMFAttributes* pDest);

private:
    AttributeItem* FindLocked(REFGUID guidKey);
    // Runs read(value) on the value of guidKey when it has type vt.
    template <class Read>
    HRESULT ReadTyped(REFGUID guidKey, VARTYPE vt, Read read);

    std::recursive_mutex m_lock;
    AttributeItems m_items;
};

// IMFAttributes for an interface derived from it, answered by a store.
template <class Base>
class AttributesImpl : public RefCounted<Base> {
public:
    STDMETHODIMP GetItem(REFGUID guidKey, PROPVARIANT* pValue) override {
        return m_Attributes.GetItem(guidKey, pValue);
    }
    STDMETHODIMP GetItemType(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType) override {
        return m_Attributes.GetItemType(guidKey, pType);
    }
    STDMETHODIMP CompareItem(REFGUID guidKey, REFPROPVARIANT Value, BOOL* pbResult) override {
        return m_Attributes.CompareItem(guidKey, Value, pbResult);
    }
    STDMETHODIMP Compare(IMFAttributes* pTheirs, MF_ATTRIBUTES_MATCH_TYPE MatchType,
                         BOOL* pbResult) override {
        return m_Attributes.Compare(pTheirs, MatchType, pbResult);
    }
    STDMETHODIMP GetUINT32(REFGUID guidKey, UINT32* punValue) override {
        return m_Attributes.GetUINT32(guidKey, punValue);
    }
    STDMETHODIMP GetUINT64(REFGUID guidKey, UINT64* punValue) override {
        return m_Attributes.GetUINT64(guidKey, punValue);
    }
    STDMETHODIMP GetDouble(REFGUID guidKey, double* pfValue) override {
        return m_Attributes.GetDouble(guidKey, pfValue);
    }
    STDMETHODIMP GetGUID(REFGUID guidKey, GUID* pguidValue) override {
        return m_Attributes.GetGUID(guidKey, pguidValue);
    }
    STDMETHODIMP GetStringLength(REFGUID guidKey, UINT32* pcchLength) override {
        return m_Attributes.GetStringLength(guidKey, pcchLength);
    }
    STDMETHODIMP GetString(REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize,
                           UINT32* pcchLength) override {
        return m_Attributes.GetString(guidKey, pwszValue, cchBufSize, pcchLength);
    }
    STDMETHODIMP GetAllocatedString(REFGUID guidKey, LPWSTR* ppwszValue,
                                    UINT32* pcchLength) override {
        return m_Attributes.GetAllocatedString(guidKey, ppwszValue, pcchLength);
    }
    STDMETHODIMP GetBlobSize(REFGUID guidKey, UINT32* pcbBlobSize) override {
        return m_Attributes.GetBlobSize(guidKey, pcbBlobSize);
    }
    STDMETHODIMP GetBlob(REFGUID guidKey, UINT8* pBuf, UINT32 cbBufSize,
                         UINT32* pcbBlobSize) override {
        return m_Attributes.GetBlob(guidKey, pBuf, cbBufSize, pcbBlobSize);
    }
    STDMETHODIMP GetAllocatedBlob(REFGUID guidKey, UINT8** ppBuf, UINT32* pcbSize) override {
        return m_Attributes.GetAllocatedBlob(guidKey, ppBuf, pcbSize);
    }
    STDMETHODIMP GetUnknown(REFGUID guidKey, REFIID riid, LPVOID* ppv) override {
        return m_Attributes.GetUnknown(guidKey, riid, ppv);
    }
    STDMETHODIMP SetItem(REFGUID guidKey, REFPROPVARIANT Value) override {
        return m_Attributes.SetItem(guidKey, Value);
    }
    STDMETHODIMP DeleteItem(REFGUID guidKey) override { return m_Attributes.DeleteItem(guidKey); }
    STDMETHODIMP DeleteAllItems() override { return m_Attributes.DeleteAllItems(); }
    STDMETHODIMP SetUINT32(REFGUID guidKey, UINT32 unValue) override {
        return m_Attributes.SetUINT32(guidKey, unValue);
    }
    STDMETHODIMP SetUINT64(REFGUID guidKey, UINT64 unValue) override {
        return m_Attributes.SetUINT64(guidKey, unValue);
    }
    STDMETHODIMP SetDouble(REFGUID guidKey, double fValue) override {
        return m_Attributes.SetDouble(guidKey, fValue);
    }
    STDMETHODIMP SetGUID(REFGUID guidKey, REFGUID guidValue) override {
        return m_Attributes.SetGUID(guidKey, guidValue);
    }
    STDMETHODIMP SetString(REFGUID guidKey, LPCWSTR wszValue) override {
        return m_Attributes.SetString(guidKey, wszValue);
    }
    STDMETHODIMP SetBlob(REFGUID guidKey, const UINT8* pBuf, UINT32 cbBufSize) override {
        return m_Attributes.SetBlob(guidKey, pBuf, cbBufSize);
    }
    STDMETHODIMP SetUnknown(REFGUID guidKey, IUnknown* pUnknown) override {
        return m_Attributes.SetUnknown(guidKey, pUnknown);
    }
    STDMETHODIMP LockStore() override { return m_Attributes.LockStore(); }
    STDMETHODIMP UnlockStore() override { return m_Attributes.UnlockStore(); }
    STDMETHODIMP GetCount(UINT32* pcItems) override { return m_Attributes.GetCount(pcItems); }
    STDMETHODIMP GetItemByIndex(UINT32 unIndex, GUID* pguidKey, PROPVARIANT* pValue) override {
        return m_Attributes.GetItemByIndex(unIndex, pguidKey, pValue);
    }
    STDMETHODIMP CopyAllItems(IMFAttributes* pDest) override {
        return m_Attributes.CopyAllItems(pDest);
    }

protected:
    AttributeStore m_Attributes;
};

} // namespace zrlinux
