#include "sourceop.h"

#include <new>

HRESULT SourceOp::CreateOp(SourceOpType op, SourceOp** ppOp) {
    if (!ppOp) {
        return E_POINTER;
    }
    *ppOp = new (std::nothrow) SourceOp(op);
    return *ppOp ? S_OK : E_OUTOFMEMORY;
}

SourceOp::SourceOp(SourceOpType op) : m_op(op) {
    PropVariantInit(&m_data);
}

SourceOp::~SourceOp() {
    PropVariantClear(&m_data);
}

STDMETHODIMP SourceOp::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    if (!IsEqualIID(riid, IID_IUnknown)) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) SourceOp::AddRef() {
    return (ULONG)InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) SourceOp::Release() {
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) {
        delete this;
    }
    return (ULONG)cRef;
}

HRESULT SourceOp::SetData(const PROPVARIANT& var) {
    PropVariantClear(&m_data);
    return PropVariantCopy(&m_data, &var);
}

const char* SourceOp::Name(int op) {
    switch (op) {
    case OP_START:
        return "OP_START";
    case OP_PAUSE:
        return "OP_PAUSE";
    case OP_STOP:
        return "OP_STOP";
    case OP_END_OF_STREAM:
        return "OP_END_OF_STREAM";
    case OP_RECONNECT:
        return "OP_RECONNECT";
    default:
        return "OP_UNKNOWN";
    }
}

HRESULT StartOp::Create(IMFPresentationDescriptor* pPD, const PROPVARIANT& position,
                        SourceOp** ppOp) {
    if (!ppOp) {
        return E_POINTER;
    }
    ComPtr<SourceOp> pOp;
    pOp.Attach(new (std::nothrow) StartOp(pPD));
    if (!pOp) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = pOp->SetData(position);
    if (SUCCEEDED(hr)) {
        *ppOp = pOp.Detach();
    }
    return hr;
}

HRESULT StartOp::GetPresentationDescriptor(IMFPresentationDescriptor** ppPD) {
    if (!ppPD) {
        return E_POINTER;
    }
    if (!m_pPD) {
        return MF_E_INVALIDREQUEST;
    }
    return m_pPD.CopyTo(ppPD);
}
