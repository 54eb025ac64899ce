// One queued request to the media source: start, pause, stop, the end of a
// stream, or a reconnect after the session lost its connection. A start
// carries its position and presentation descriptor.
#pragma once

#include "comptr.h"
#include "platform.h"

enum SourceOpType {
    OP_START = 0,
    OP_PAUSE = 1,
    OP_STOP = 2,
    OP_END_OF_STREAM = 3,
    OP_RECONNECT = 4,
};

class SourceOp : public IUnknown {
public:
    // E_OUTOFMEMORY when the operation cannot be allocated.
    static HRESULT CreateOp(SourceOpType op, SourceOp** ppOp);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    SourceOpType Op() const { return m_op; }
    const PROPVARIANT& Data() const { return m_data; }
    HRESULT SetData(const PROPVARIANT& var);
    // "OP_START" ... for trace lines; "OP_UNKNOWN" for any other value.
    static const char* Name(int op);

protected:
    explicit SourceOp(SourceOpType op);
    virtual ~SourceOp();

private:
    LONG volatile m_cRef = 1;
    SourceOpType m_op;
    PROPVARIANT m_data;
};

class StartOp final : public SourceOp {
public:
    // A start of the presentation pPD, which the operation holds a reference
    // on.
    static HRESULT Create(IMFPresentationDescriptor* pPD, const PROPVARIANT& position,
                          SourceOp** ppOp);

    // MF_E_INVALIDREQUEST when the start has no descriptor.
    HRESULT GetPresentationDescriptor(IMFPresentationDescriptor** ppPD);

private:
    explicit StartOp(IMFPresentationDescriptor* pPD) : SourceOp(OP_START), m_pPD(pPD) {}

    ComPtr<IMFPresentationDescriptor> m_pPD;
};
