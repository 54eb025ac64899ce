#include "streamoutput.h"

#include <cstdio>

#include "comptr.h"

bool CStreamOutput::OpenFile(const std::string& directory) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_file.Open(directory, m_dwIndex, m_format);
}

std::string CStreamOutput::FilePath() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_file.Path();
}

void CStreamOutput::OnSample(LONGLONG tTime, const BYTE* pData, size_t cbData, bool bKeyFrame,
                             bool bDiscontinuity) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_stats.nSamples == 0) {
        m_stats.tFirst = tTime;
    }
    m_stats.nSamples++;
    m_stats.nKeyFrames += bKeyFrame;
    m_stats.nDiscontinuities += bDiscontinuity;
    m_stats.tLast = tTime;
    m_stats.cbBytes += cbData;
    m_file.Write(pData, cbData);
}

void CStreamOutput::OnSample(IMFSample* pSample) {
    ComPtr<IMFMediaBuffer> pBuffer;
    BYTE* pData = nullptr;
    DWORD cbData = 0;
    if (FAILED(pSample->ConvertToContiguousBuffer(&pBuffer)) ||
        FAILED(pBuffer->Lock(&pData, nullptr, &cbData))) {
        return;
    }
    LONGLONG tTime = 0;
    pSample->GetSampleTime(&tTime);
    OnSample(tTime, pData, cbData,
             MFGetAttributeUINT32(pSample, MFSampleExtension_CleanPoint, 0) != 0,
             MFGetAttributeUINT32(pSample, MFSampleExtension_Discontinuity, 0) != 0);
    pBuffer->Unlock();
}

void CStreamOutput::OnEnd() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stats.bEnded = true;
}

void CStreamOutput::OnTypeChanged(IMFMediaType* pType) {
    UINT32 nWidth = 0;
    UINT32 nHeight = 0;
    if (SUCCEEDED(MFGetAttributeSize(pType, MF_MT_FRAME_SIZE, &nWidth, &nHeight))) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stats.nWidth = nWidth;
        m_stats.nHeight = nHeight;
    }
}

void CStreamOutput::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_file.Close();
}

StreamStats CStreamOutput::Stats() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_stats;
}

// Rates over the time the samples span.
std::string CStreamOutput::ProgressLine() {
    const StreamStats stats = Stats();
    static const char* const KINDS[] = {"video", "audio", "metadata"};
    const double dSeconds = (double)(stats.tLast - stats.tFirst) / 1e7;
    const double dRate = dSeconds > 0 ? (double)(stats.nSamples - 1) / dSeconds : 0.0;
    const double dKbits = dSeconds > 0 ? (double)stats.cbBytes * 8 / 1000 / dSeconds : 0.0;
    char szSize[32] = "";
    if (stats.nWidth > 0) {
        snprintf(szSize, sizeof(szSize), " %ux%u", stats.nWidth, stats.nHeight);
    }
    char szLine[200];
    snprintf(szLine, sizeof(szLine),
             "#%u %s %s%s  %llu %s  %.1f/s  %.0f kbit/s  %llu key  %llu disc%s",
             (unsigned)m_dwIndex, KINDS[m_format.kind], m_format.codec.c_str(), szSize,
             (unsigned long long)stats.nSamples, m_format.kind == KIND_VIDEO ? "frames" : "samples",
             dRate, dKbits, (unsigned long long)stats.nKeyFrames,
             (unsigned long long)stats.nDiscontinuities, stats.bEnded ? "  ended" : "");
    return szLine;
}
