// One stream as the player sees it: what has come (samples, key frames,
// discontinuities, times, bytes, the end) and the file it is written to.
// Samples may come on any thread.
#pragma once

#include <mutex>
#include <string>

#include "streamfile.h"
#include "streamformat.h"

struct StreamStats {
    UINT64 nSamples = 0;
    UINT64 nKeyFrames = 0;
    UINT64 nDiscontinuities = 0;
    LONGLONG tFirst = 0;
    LONGLONG tLast = 0;
    UINT64 cbBytes = 0;
    bool bEnded = false;
    // The picture size, which a decoder may change on the way.
    UINT32 nWidth = 0;
    UINT32 nHeight = 0;
};

class CStreamOutput {
public:
    CStreamOutput(DWORD dwIndex, IMFMediaType* pType)
        : m_dwIndex(dwIndex), m_format(DescribeStream(pType)) {
        m_stats.nWidth = m_format.nWidth;
        m_stats.nHeight = m_format.nHeight;
    }

    DWORD Index() const { return m_dwIndex; }
    const StreamFormat& Format() const { return m_format; }
    // Writes the stream under the directory from now on.
    bool OpenFile(const std::string& directory);
    std::string FilePath();

    void OnSample(LONGLONG tTime, const BYTE* pData, size_t cbData, bool bKeyFrame,
                  bool bDiscontinuity);
    void OnSample(IMFSample* pSample);
    void OnEnd();
    // The stream's type changed (a decoder's output, after its first
    // pictures): takes the new picture size.
    void OnTypeChanged(IMFMediaType* pType);
    void Close();

    StreamStats Stats();
    // "#0 video H264 640x480  250 frames  25.0 fps  998 kbit/s  5 key  1 disc".
    std::string ProgressLine();

private:
    const DWORD m_dwIndex;
    const StreamFormat m_format;
    std::mutex m_lock; // guards what follows
    StreamStats m_stats;
    CStreamFile m_file;
};
