#include "samplerecorder.h"

#include <chrono>

#include "comptr.h"

HRESULT CSampleRecorder::DeliverSample(IMFSample* pSample) {
    RecordedSample sample = {};
    ComPtr<IMFMediaBuffer> pBuffer;
    HRESULT hr = pSample->ConvertToContiguousBuffer(&pBuffer);
    BYTE* pData = nullptr;
    DWORD cbData = 0;
    if (SUCCEEDED(hr)) {
        hr = pBuffer->Lock(&pData, nullptr, &cbData);
    }
    if (FAILED(hr)) {
        return hr;
    }
    sample.bytes.assign(reinterpret_cast<const char*>(pData), cbData);
    pBuffer->Unlock();
    UINT32 nClean = 0;
    UINT32 nDiscontinuity = 0;
    pSample->GetSampleTime(&sample.tTime);
    pSample->GetSampleDuration(&sample.tDuration);
    pSample->GetUINT32(MFSampleExtension_CleanPoint, &nClean);
    pSample->GetUINT32(MFSampleExtension_Discontinuity, &nDiscontinuity);
    sample.bCleanPoint = nClean != 0;
    sample.bDiscontinuity = nDiscontinuity != 0;
    std::lock_guard<std::mutex> lock(m_lock);
    m_samples.push_back(std::move(sample));
    m_changed.notify_all();
    return S_OK;
}

HRESULT CSampleRecorder::EndOfStream() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bEnded = true;
    m_changed.notify_all();
    return S_OK;
}

bool CSampleRecorder::WaitForSamples(size_t nCount, int nLimitMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(nLimitMs),
                              [&] { return m_samples.size() >= nCount || m_bEnded; });
}

bool CSampleRecorder::WaitForEndOfStream(int nLimitMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(nLimitMs), [&] { return m_bEnded; });
}

std::vector<RecordedSample> CSampleRecorder::Samples() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_samples;
}

bool CSampleRecorder::Ended() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bEnded;
}

void CSampleRecorder::Clear() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_samples.clear();
    m_bEnded = false;
}
