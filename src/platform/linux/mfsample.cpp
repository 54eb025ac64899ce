// Samples: a time, a duration and a list of buffers, with attributes.
#include <mutex>
#include <vector>

#include "comptr.h"
#include "interfacetable.h"
#include "mfapi.h"
#include "mfattributes.h"

namespace {

class Sample final : public zrlinux::AttributesImpl<IMFSample> {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const ComInterfaceEntry<Sample> kInterfaces[] = {
            COM_INTERFACE_ENTRY(Sample, IMFSample),
            COM_INTERFACE_ENTRY(Sample, IMFAttributes),
        };
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }

    STDMETHODIMP GetSampleFlags(DWORD* pdwSampleFlags) override {
        if (!pdwSampleFlags) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        *pdwSampleFlags = m_dwFlags;
        return S_OK;
    }
    STDMETHODIMP SetSampleFlags(DWORD dwSampleFlags) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_dwFlags = dwSampleFlags;
        return S_OK;
    }
    STDMETHODIMP GetSampleTime(LONGLONG* phnsSampleTime) override {
        return GetTime(m_bHasTime, m_tTime, MF_E_NO_SAMPLE_TIMESTAMP, phnsSampleTime);
    }
    STDMETHODIMP SetSampleTime(LONGLONG hnsSampleTime) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_tTime = hnsSampleTime;
        m_bHasTime = true;
        return S_OK;
    }
    STDMETHODIMP GetSampleDuration(LONGLONG* phnsSampleDuration) override {
        return GetTime(m_bHasDuration, m_tDuration, MF_E_NO_SAMPLE_DURATION, phnsSampleDuration);
    }
    STDMETHODIMP SetSampleDuration(LONGLONG hnsSampleDuration) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_tDuration = hnsSampleDuration;
        m_bHasDuration = true;
        return S_OK;
    }
    STDMETHODIMP GetBufferCount(DWORD* pdwBufferCount) override {
        if (!pdwBufferCount) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        *pdwBufferCount = (DWORD)m_buffers.size();
        return S_OK;
    }
    STDMETHODIMP GetBufferByIndex(DWORD dwIndex, IMFMediaBuffer** ppBuffer) override {
        if (!ppBuffer) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        if (dwIndex >= m_buffers.size()) {
            return E_INVALIDARG;
        }
        return m_buffers[dwIndex].CopyTo(ppBuffer);
    }
    STDMETHODIMP ConvertToContiguousBuffer(IMFMediaBuffer** ppBuffer) override;
    STDMETHODIMP AddBuffer(IMFMediaBuffer* pBuffer) override {
        if (!pBuffer) {
            return E_INVALIDARG;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_buffers.emplace_back(pBuffer);
        return S_OK;
    }
    STDMETHODIMP RemoveBufferByIndex(DWORD dwIndex) override {
        ComPtr<IMFMediaBuffer> pRemoved; // released after the lock is left
        std::lock_guard<std::mutex> lock(m_lock);
        if (dwIndex >= m_buffers.size()) {
            return E_INVALIDARG;
        }
        pRemoved = m_buffers[dwIndex];
        m_buffers.erase(m_buffers.begin() + dwIndex);
        return S_OK;
    }
    STDMETHODIMP RemoveAllBuffers() override {
        std::vector<ComPtr<IMFMediaBuffer>> removed;
        std::lock_guard<std::mutex> lock(m_lock);
        removed.swap(m_buffers);
        return S_OK;
    }
    STDMETHODIMP GetTotalLength(DWORD* pcbTotalLength) override {
        if (!pcbTotalLength) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        return TotalLengthLocked(pcbTotalLength);
    }
    STDMETHODIMP CopyToBuffer(IMFMediaBuffer* pBuffer) override;

private:
    HRESULT GetTime(const bool& bSet, const LONGLONG& tValue, HRESULT hrUnset, LONGLONG* ptOut) {
        if (!ptOut) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        if (!bSet) {
            return hrUnset;
        }
        *ptOut = tValue;
        return S_OK;
    }
    HRESULT TotalLengthLocked(DWORD* pcbTotal);
    HRESULT CopyLocked(IMFMediaBuffer* pBuffer, DWORD cbTotal);

    std::mutex m_lock;
    DWORD m_dwFlags = 0;
    bool m_bHasTime = false;
    LONGLONG m_tTime = 0;
    bool m_bHasDuration = false;
    LONGLONG m_tDuration = 0;
    std::vector<ComPtr<IMFMediaBuffer>> m_buffers;
};

HRESULT Sample::TotalLengthLocked(DWORD* pcbTotal) {
    DWORD cbTotal = 0;
    for (const ComPtr<IMFMediaBuffer>& pBuffer : m_buffers) {
        DWORD cb = 0;
        HRESULT hr = pBuffer->GetCurrentLength(&cb);
        if (FAILED(hr)) {
            return hr;
        }
        if (cb > ~cbTotal) {
            return E_INVALIDARG; // the lengths do not add up to 32 bits
        }
        cbTotal += cb;
    }
    *pcbTotal = cbTotal;
    return S_OK;
}

// Copies the current bytes of every buffer, in order, into pBuffer, which
// holds at least cbTotal bytes, and sets its current length.
HRESULT Sample::CopyLocked(IMFMediaBuffer* pBuffer, DWORD cbTotal) {
    BYTE* pbDest = nullptr;
    DWORD cbMax = 0;
    HRESULT hr = pBuffer->Lock(&pbDest, &cbMax, nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    DWORD cbDone = 0;
    for (size_t i = 0; SUCCEEDED(hr) && i < m_buffers.size(); i++) {
        BYTE* pbSrc = nullptr;
        DWORD cb = 0;
        hr = m_buffers[i]->Lock(&pbSrc, nullptr, &cb);
        if (SUCCEEDED(hr)) {
            if (cb > cbTotal - cbDone) {
                hr = E_UNEXPECTED; // a buffer grew while it was being copied
            } else if (cb) {
                memcpy(pbDest + cbDone, pbSrc, cb);
                cbDone += cb;
            }
            m_buffers[i]->Unlock();
        }
    }
    pBuffer->Unlock();
    return SUCCEEDED(hr) ? pBuffer->SetCurrentLength(cbDone) : hr;
}

STDMETHODIMP Sample::ConvertToContiguousBuffer(IMFMediaBuffer** ppBuffer) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_buffers.empty()) {
        return E_UNEXPECTED;
    }
    if (m_buffers.size() > 1) {
        DWORD cbTotal = 0;
        HRESULT hr = TotalLengthLocked(&cbTotal);
        ComPtr<IMFMediaBuffer> pJoined;
        if (SUCCEEDED(hr)) {
            hr = MFCreateMemoryBuffer(cbTotal, &pJoined);
        }
        if (SUCCEEDED(hr)) {
            hr = CopyLocked(pJoined.Get(), cbTotal);
        }
        if (FAILED(hr)) {
            return hr;
        }
        m_buffers.clear();
        m_buffers.push_back(pJoined);
    }
    return ppBuffer ? m_buffers[0].CopyTo(ppBuffer) : S_OK;
}

STDMETHODIMP Sample::CopyToBuffer(IMFMediaBuffer* pBuffer) {
    if (!pBuffer) {
        return E_POINTER;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    DWORD cbTotal = 0;
    DWORD cbMax = 0;
    HRESULT hr = TotalLengthLocked(&cbTotal);
    if (SUCCEEDED(hr)) {
        hr = pBuffer->GetMaxLength(&cbMax);
    }
    if (SUCCEEDED(hr) && cbMax < cbTotal) {
        hr = MF_E_BUFFERTOOSMALL;
    }
    return SUCCEEDED(hr) ? CopyLocked(pBuffer, cbTotal) : hr;
}

} // namespace

STDAPI MFCreateSample(IMFSample** ppIMFSample) {
    return zrlinux::CreateComObject<Sample>(ppIMFSample);
}
