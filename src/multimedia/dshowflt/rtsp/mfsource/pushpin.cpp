#include "pushpin.h"

#include <cstring>

#include "comptr.h"
#include "common/format.h"
#include "common/hresultname.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "rtsp/rtp/firstframescan.h"
#include "rtsp/rtp/g726bitorder.h"
#include "rtsp/rtp/mediatype.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/controlurl.h"
#include "rtsp/rtspstate.h"
#include "rtsp/startsync.h"
#include "rtsp/zrrtspsrc.h"

namespace {

const int64_t ONE_SECOND = 10000000;
// A discontinuity within this distance of the expected time is only flagged;
// farther away it moves the time base.
const int64_t GAP_TOLERANCE = 3 * ONE_SECOND;
const DWORD FORMAT_WAIT_MS = 5000;
const int H264_NAL_IDR = 5;
const int H264_NAL_SPS = 7;
const int H264_NAL_PPS = 8;
const int H264_NAL_AUD = 9;
const int VIDEOINFOHEADER_SIZE = (int)sizeof(VIDEOINFOHEADER);

// Times come from the network: differences saturate instead of overflowing.
int64_t SubtractTimes(int64_t a, int64_t b) {
    int64_t result;
    if (__builtin_sub_overflow(a, b, &result)) {
        return b < 0 ? TIME_NONE : INT64_MIN + 1;
    }
    return result;
}

bool ReadRecord(const CBuffer* pBuffer, RTPHEADERRECORD* pRecord) {
    const CBuffer* pSide = pBuffer->SideBuffer();
    if (!pSide || pSide->Length() != (int)sizeof(RTPHEADERRECORD)) {
        return false;
    }
    memcpy(pRecord, pSide->Data(), sizeof(RTPHEADERRECORD));
    return true;
}

// What the front of an Annex B frame (3-byte start codes) holds up to its
// first slice: parameter sets, and whether that slice is an IDR slice. The
// scan stops at the slice, so it costs little whatever the frame's size.
struct NalSummary {
    bool bParameterSets = false;
    bool bIdr = false;
    int nLeadingAudSize = 0; // bytes of an access unit delimiter in front
};

NalSummary SummarizeH264Frame(const BYTE* p, int n) {
    NalSummary summary;
    bool bAudOpen = false;
    for (int i = 0; i + 3 < n; i++) {
        if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) {
            continue;
        }
        if (bAudOpen) {
            summary.nLeadingAudSize = i;
            bAudOpen = false;
        }
        const int nType = p[i + 3] & 0x1F;
        if (nType >= 1 && nType <= 5) {
            summary.bIdr = nType == H264_NAL_IDR;
            break;
        }
        summary.bParameterSets |= nType == H264_NAL_SPS || nType == H264_NAL_PPS;
        bAudOpen = i == 0 && nType == H264_NAL_AUD;
        i += 3;
    }
    return summary;
}

} // namespace

const char* FormatTime(int64_t t) {
    if (t == TIME_NONE) {
        return "MAX_INT64";
    }
    if (t == TIME_UNSET) {
        return "MIN_INT64";
    }
    return FormatMs(t / 10000);
}

CPushPin::CPushPin(CZRtspSrc* pSession, HRESULT* phr)
    : CRecvThread(phr), m_pSession(pSession), m_nRTSPState(RTSPSTATE_SEND_RTSP_SETUP),
      m_Rtcp(this, pSession->InterleavedSender(), phr), m_SocketPair(this, &m_Rtcp) {
    InitMediaType(&m_mt);
    m_hFormatKnown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_hFormatKnown) {
        *phr = E_OUTOFMEMORY;
    }
}

CPushPin::~CPushPin() {
    // The threads end before the members they use go away; the RTCP worker
    // reads the stream's queues and statistics.
    m_Rtcp.Stop();
    EndThreads();
    CloseSockets();
    FreeMediaType(&m_mt);
    if (m_hFormatKnown) {
        CloseHandle(m_hFormatKnown);
    }
}

// ---- Description, media type and URLs ------------------------------------------

void CPushPin::SetStreamDescription(StreamDescription* pDesc) {
    pDesc->TransferTo(&m_Desc);
    CRTPParser* pParser = Parser();
    pParser->SetPayloadType(m_Desc.m_nPayloadType,
                            RTPPayloadKindFromCompression(m_Desc.m_nCompression));
    pParser->SetAuHeaders(m_Desc);
    pParser->SetAmrOptions(m_Desc.m_nAmrOptions);
    // A packet may come as late as the buffering lets it: later, it counts
    // as lost.
    pParser->SetReorderWait((DWORD)(m_pSession->m_tBufferingAmount / 10000));
    const bool bKlv = m_Desc.m_nCompression == COMPRESSION_KLVA;
    pParser->SetClockRate(bKlv ? m_Desc.m_nKlvClockRate : m_Desc.m_nClockRate);
}

HRESULT CPushPin::SetMediaType(const AM_MEDIA_TYPE* pmt) {
    FreeMediaType(&m_mt);
    const HRESULT hr = CopyMediaType(&m_mt, pmt);
    if (FAILED(hr)) {
        return hr;
    }
    m_bFormatKnown = true;
    m_tSampleDuration = 1;
    SetFramesSpanPackets(IsVideo());
    if (IsVideo()) {
        m_tSampleDuration = 333333;
        if (m_mt.formattype == FORMAT_VideoInfo && m_mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
            const VIDEOINFOHEADER* pVih = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.pbFormat);
            m_tSampleDuration = pVih->AvgTimePerFrame;
        }
    }
    return S_OK;
}

HRESULT CPushPin::GetMediaType(int nIndex, AM_MEDIA_TYPE* pmt) {
    if (!pmt) {
        return E_POINTER;
    }
    if (nIndex > 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    InitMediaType(pmt);
    return CopyMediaType(pmt, &m_mt);
}

bool CPushPin::IsVideo() const {
    return m_mt.majortype == MEDIATYPE_Video;
}

bool CPushPin::IsAudio() const {
    return m_mt.majortype == MEDIATYPE_Audio;
}

char CPushPin::Letter() const {
    switch (m_Desc.m_nStreamType) {
    case STREAMTYPE_VIDEO:
        return 'V';
    case STREAMTYPE_AUDIO:
        return 'A';
    case STREAMTYPE_APPLICATION:
        return 'M';
    default:
        return '?';
    }
}

// A description that the frames do not complete in time is typed with what
// it has.
HRESULT CPushPin::WaitForFormat() {
    const HANDLE handles[2] = {m_hFormatKnown, m_pSession->AbortEvent()};
    const DWORD dwWait = WaitForMultipleObjects(2, handles, FALSE, FORMAT_WAIT_MS);
    if (dwWait == WAIT_OBJECT_0 + 1) {
        return ZRMM_E_ABORT_WAIT_STOP;
    }
    if (dwWait == WAIT_OBJECT_0 || WaitForDataReceived(0, nullptr) == S_OK) {
        return S_OK;
    }
    return HRESULT_FROM_WIN32(WSAETIMEDOUT);
}

HRESULT CPushPin::SetBaseUrl(const char* pszBase) {
    m_BaseUrl.ResetLength();
    return m_BaseUrl.AppendText(pszBase);
}

HRESULT CPushPin::GetControlUrl(CBaseBuffer* pUrl) const {
    return ResolveControlUrl(m_BaseUrl.Text(), m_Desc.m_pszControl, pUrl);
}

bool CPushPin::IsNamedBy(const char* pszUrl, int cchUrl) const {
    CBuffer url;
    if (SUCCEEDED(GetControlUrl(&url)) && url.TextLength() == cchUrl &&
        _strnicmp(url.Text(), pszUrl, cchUrl) == 0) {
        return true;
    }
    const char* pszControl = m_Desc.m_pszControl;
    return pszControl && (int)strlen(pszControl) == cchUrl &&
           _strnicmp(pszControl, pszUrl, cchUrl) == 0;
}

// ---- Sockets -------------------------------------------------------------------

HRESULT CPushPin::OpenUdpSockets(BOOL bMulticast, const CSocketAddress& localInterface,
                                 const CSocketAddress& server, uint32_t nBasePort) {
    HRESULT hr = StartReaderThread();
    if (SUCCEEDED(hr)) {
        hr = m_SocketPair.Open(bMulticast, localInterface, server, nBasePort);
    }
    UseSocketPairDestinations();
    return hr;
}

HRESULT CPushPin::SetRTCPServerPort(uint32_t nRtcpPort, int32_t nSelectedTransportType,
                                    const CSocketAddress& group) {
    const HRESULT hr = m_SocketPair.SetRTCPServerPort(nRtcpPort, nSelectedTransportType, group);
    UseSocketPairDestinations();
    return hr;
}

void CPushPin::UseSocketPairDestinations() {
    SetHolePunchDestination(m_SocketPair.HolePunchDestination());
    m_Rtcp.SetDestination(m_SocketPair.RtcpDestination());
}

void CPushPin::CloseSockets() {
    CloseSocket(TRUE);
    m_Rtcp.CloseSocket(TRUE);
}

HRESULT CPushPin::StartRtcp(DWORD dwReportIntervalMs) {
    m_Rtcp.SetReportInterval(dwReportIntervalMs);
    m_Rtcp.SetReceiverSSRC(m_Desc.m_nReceiverSsrc);
    if (IsInterleaved()) {
        return m_Rtcp.Start(true);
    }
    // A multicast stream binds no RTCP port of its own: its reports leave
    // from any port towards the group.
    if (!m_Rtcp.IsOpen()) {
        m_Rtcp.OpenSocketTimed(TRUE, TRUE, 0);
    }
    return m_Rtcp.Start(false);
}

void CPushPin::SetStreamingType(int nStreamingType) {
    SetInterleaved(nStreamingType != STREAMINGTYPE_UDP);
}

// ---- Time base -----------------------------------------------------------------

int64_t CPushPin::StreamTimeOf(const RTPHEADERRECORD& record) {
    CAutoLock lock(&m_PinLock);
    if (m_tStartTime == TIME_UNSET || m_tStartTime == TIME_NONE) {
        return record.m_tTime;
    }
    return SubtractTimes(record.m_tTime, m_tStartTime);
}

bool CPushPin::IsStartTimeUnset() {
    CAutoLock lock(&m_PinLock);
    return m_tStartTime == TIME_UNSET && !m_bRtpInfoPending;
}

int64_t CPushPin::ExpectedStartTime() {
    CAutoLock lock(&m_PinLock);
    return m_tExpectedStartTime;
}

void CPushPin::SetExpectedStartTime(int64_t t) {
    CAutoLock lock(&m_PinLock);
    m_tExpectedStartTime = t;
}

void CPushPin::ClearStreamTime() {
    CAutoLock lock(&m_PinLock);
    m_tExpectedStartTime = TIME_NONE;
}

void CPushPin::SetStartTime(const RTPHEADERRECORD& record, int64_t tExpectedStart,
                            int64_t tMargin) {
    CAutoLock lock(&m_PinLock);
    m_tExpectedStartTime = tExpectedStart;
    m_tStartMargin = tMargin;
    m_tStartTime = SubtractTimes(SubtractTimes(record.m_tTime, tExpectedStart), tMargin);
    m_bRtpInfoPending = false;
    Trace("\nCPushPin::SetStartTime(%c, %I64u=%s-%s-%s->%s)", Letter(), record.m_qwTimestamp,
          FormatTime(record.m_tTime), FormatTime(tExpectedStart), FormatTime(tMargin),
          FormatTime(m_tStartTime));
}

// The RTP-Info of a PLAY answer names the 32-bit RTP timestamp at the start
// position before any packet has come. It is placed on the parser's extended
// timeline when the first frame shows where that timeline stands, so that a
// timestamp wrap between the two cannot move the base by 2^32 ticks.
void CPushPin::SetRtpInfoStartTime(uint32_t dwRtpTime, int64_t tExpectedStart, int64_t tMargin) {
    CAutoLock lock(&m_PinLock);
    m_dwRtpInfoTime = dwRtpTime;
    m_tRtpInfoExpectedStart = tExpectedStart;
    m_tRtpInfoMargin = tMargin;
    m_bRtpInfoPending = true;
}

void CPushPin::ResolveRtpInfoStartTime(const RTPHEADERRECORD& first) {
    uint32_t dwRtpTime;
    int64_t tExpectedStart;
    int64_t tMargin;
    {
        CAutoLock lock(&m_PinLock);
        if (!m_bRtpInfoPending) {
            return;
        }
        dwRtpTime = m_dwRtpInfoTime;
        tExpectedStart = m_tRtpInfoExpectedStart;
        tMargin = m_tRtpInfoMargin;
    }
    // The distance in ticks from the first frame, either way round the wrap.
    const int32_t nDistance = (int32_t)(dwRtpTime - (uint32_t)first.m_qwTimestamp);
    RTPHEADERRECORD base = first;
    base.m_qwTimestamp = first.m_qwTimestamp + (uint64_t)(int64_t)nDistance;
    const int64_t tDistance =
        (int64_t)Parser()->To100ns((uint64_t)(nDistance < 0 ? -(int64_t)nDistance : nDistance));
    base.m_tTime = nDistance < 0 ? SubtractTimes(first.m_tTime, tDistance)
                                 : SubtractTimes(first.m_tTime, -tDistance);
    SetStartTime(base, tExpectedStart, tMargin);
}

void CPushPin::SetStartTimeDirect(int64_t tStartTime) {
    CAutoLock lock(&m_PinLock);
    m_tStartTime = tStartTime;
    m_bRtpInfoPending = false;
}

void CPushPin::AdjustStartTime(int64_t tDelta, int64_t tExpectedStart, bool bAllPins) {
    CAutoLock lock(&m_PinLock);
    const int64_t tNewStart = m_tStartTime + tDelta;
    if (bAllPins) {
        Trace("\nCPushPin::AdjustStartTime1(%c): Change m_tStartTime from %s to %s, "
              "m_tExpectedStartTime from %s to %s",
              Letter(), FormatTime(m_tStartTime), FormatTime(tNewStart),
              FormatTime(m_tExpectedStartTime), FormatTime(tExpectedStart));
        m_tStartTime = tNewStart;
        m_tExpectedStartTime = tExpectedStart;
    } else {
        const int64_t tNewExpected = m_tExpectedStartTime - tDelta;
        Trace("\nCPushPin::AdjustStartTime2(%c): Change m_tStartTime from %s to %s, "
              "m_tExpectedStartTime from %s to %s",
              Letter(), FormatTime(m_tStartTime), FormatTime(tNewStart),
              FormatTime(m_tExpectedStartTime), FormatTime(tNewExpected));
        m_tStartTime = tNewStart;
        m_tExpectedStartTime = tNewExpected;
    }
}

void CPushPin::SetFirstKeyFrameTimeFromBase(int64_t tExpectedStart) {
    CAutoLock lock(&m_PinLock);
    m_tFirstKeyFrameTime = m_tStartTime + tExpectedStart;
    Trace("\nCPushPin::AdjustStartTime(%c): m_tFirstKeyFrameTime=%s, m_tStartTime=%s, "
          "m_tExpectedStartTime=%s",
          Letter(), FormatTime(m_tFirstKeyFrameTime), FormatTime(m_tStartTime),
          FormatTime(m_tExpectedStartTime));
}

void CPushPin::SetFirstKeyFrameTime(int64_t t) {
    CAutoLock lock(&m_PinLock);
    m_tFirstKeyFrameTime = t;
}

// ---- Frames held before synchronisation ------------------------------------------

HRESULT CPushPin::BufferSample(const BYTE* pData, int nSize, const RTPHEADERRECORD& record) {
    CBuffer* pBuffer = m_SamplePool.GetBuffer(nSize);
    if (!pBuffer) {
        return E_OUTOFMEMORY;
    }
    if (FAILED(pBuffer->SetContents(pData, nSize)) ||
        FAILED(pBuffer->SetSideBuffer(&record, sizeof(record)))) {
        m_SamplePool.PushHead(pBuffer);
        return E_OUTOFMEMORY;
    }
    m_SampleBuffers.PushTail(pBuffer);
    return S_OK;
}

bool CPushPin::BufferedRecord(BufferedRecordKind kind, RTPHEADERRECORD* pRecord) {
    CAutoLock lock(m_SampleBuffers.LockObject());
    bool bFound = false;
    for (CBuffer* p = m_SampleBuffers.PeekHead(); p; p = p->Next()) {
        RTPHEADERRECORD record;
        if (!ReadRecord(p, &record)) {
            continue;
        }
        if (kind == BUFFERED_FIRST_SYNC_POINT && !(record.m_dwFlags & RTPFLAG_SYNCPOINT)) {
            continue;
        }
        *pRecord = record;
        bFound = true;
        if (kind != BUFFERED_LAST) {
            break;
        }
    }
    return bFound;
}

bool CPushPin::DropNewestBufferedSample() {
    CBuffer* pBuffer = m_SampleBuffers.PopTail();
    if (!pBuffer) {
        return false;
    }
    m_SamplePool.PushHead(pBuffer);
    return true;
}

void CPushPin::DropBufferedSamplesAfterFirst() {
    while (m_SampleBuffers.Count() > 1) {
        DropNewestBufferedSample();
    }
}

void CPushPin::ClearBufferedSamples() {
    // One buffer at a time, holding one list's lock at a time: the discards
    // hold the sample list's lock while they give buffers to the pool.
    for (CBuffer* p = m_SampleBuffers.PopHead(); p; p = m_SampleBuffers.PopHead()) {
        m_SamplePool.PushHead(p);
    }
}

void CPushPin::DiscardSamplesBeforeFirstSyncPoint() {
    RTPHEADERRECORD sync;
    if (!BufferedRecord(BUFFERED_FIRST_SYNC_POINT, &sync)) {
        return;
    }
    CAutoLock lock(m_SampleBuffers.LockObject());
    for (CBuffer* p = m_SampleBuffers.PeekHead(); p; p = m_SampleBuffers.PeekHead()) {
        RTPHEADERRECORD record = {};
        if (ReadRecord(p, &record) && (record.m_dwFlags & RTPFLAG_SYNCPOINT)) {
            return;
        }
        m_SamplePool.PushHead(m_SampleBuffers.PopHead());
    }
}

void CPushPin::DiscardPrerollSamples(int64_t tStartTime) {
    CAutoLock lock(m_SampleBuffers.LockObject());
    for (CBuffer* p = m_SampleBuffers.PeekHead(); p; p = m_SampleBuffers.PeekHead()) {
        RTPHEADERRECORD record = {};
        ReadRecord(p, &record);
        const int64_t tStream = StreamTimeOf(record);
        if (tStream >= tStartTime) {
            Trace("\nCPushPin::DiscardPrerollSamples(%c): Leave non-preroll sample %I64d(%s), "
                  "m_tStartTime=%s, startTime=%s",
                  Letter(), record.m_qwTimestamp, FormatTime(tStream), FormatTime(StartTime()),
                  FormatTime(tStartTime));
            return;
        }
        Trace("\nCPushPin::DiscardPrerollSamples(%c): Discard preroll sample %I64d(%s), "
              "m_tStartTime=%s, startTime=%s",
              Letter(), record.m_qwTimestamp, FormatTime(tStream), FormatTime(StartTime()),
              FormatTime(tStartTime));
        m_SamplePool.PushHead(m_SampleBuffers.PopHead());
    }
}

HRESULT CPushPin::DiscardPreviousSamplesAndSetBaseTime(DWORD dwArrivalTick,
                                                       int64_t tExpectedStart) {
    CAutoLock lock(m_SampleBuffers.LockObject());
    for (CBuffer* p = m_SampleBuffers.PeekHead(); p; p = m_SampleBuffers.PeekHead()) {
        RTPHEADERRECORD record;
        if (!ReadRecord(p, &record)) {
            return E_POINTER;
        }
        if ((int32_t)(record.m_dwArrivalTick - dwArrivalTick) >= 0) {
            Trace("\nCPushPin::DiscardPreviousSamplesAndSetBaseTime(%c). Set base time to "
                  "(%I64u=%s)",
                  Letter(), record.m_qwTimestamp, FormatTime(record.m_tTime));
            SetStartTime(record, tExpectedStart, StartMargin());
            return S_OK;
        }
        if (!p->Next()) {
            Trace("\nCPushPin::DiscardPreviousSamplesAndSetBaseTime(%c). I was going to discard "
                  "the last sample! Set base time to (%I64u=%s)",
                  Letter(), record.m_qwTimestamp, FormatTime(record.m_tTime));
            SetStartTime(record, tExpectedStart, StartMargin());
            return S_OK;
        }
        Trace("\nCPushPin::DiscardPreviousSamplesAndSetBaseTime(%c). Discard early "
              "sample(%I64u=%s)",
              Letter(), record.m_qwTimestamp, FormatTime(record.m_tTime));
        m_SamplePool.PushHead(m_SampleBuffers.PopHead());
    }
    return S_OK;
}

int64_t CPushPin::StartTime() {
    CAutoLock lock(&m_PinLock);
    return m_tStartTime;
}

int64_t CPushPin::StartMargin() {
    CAutoLock lock(&m_PinLock);
    return m_tStartMargin;
}

// ---- Delivery ------------------------------------------------------------------

HRESULT CPushPin::OnFirstDataAvailable(BYTE* pData, int nSize, const RTPHEADERRECORD& record,
                                       uint32_t* pdwFirstFlags) {
    m_bParameterSetsNeeded = true;
    ResolveRtpInfoStartTime(record);
    Trace("\nCPushPin::OnFirstDataAvailable(%c): r=%I64u(%s,%s), m_tStartTime=%s", Letter(),
          record.m_qwTimestamp, FormatTime(record.m_tTime), FormatTime(StreamTimeOf(record)),
          FormatTime(StartTime()));
    LearnFormat(pData, nSize);
    const HRESULT hr = m_pSession->StartSync()->OnPinFirstDataAvailable(this, pData, nSize, record);
    if (hr != S_OK) {
        return hr;
    }
    SetDataReceived();
    Trace("\nCPushPin::OnFirstDataAvailable(%c): m_SampleBuffers.GetCount()=%d", Letter(),
          m_SampleBuffers.Count());
    return DeliverBufferedSamples(pdwFirstFlags);
}

// What the description lacked, from the frames of a stream played to learn
// it: in-band parameter sets, the picture size of a JPEG stream, the frame
// rate of MPEG-4 video. The event tells the session once nothing is missing.
void CPushPin::LearnFormat(const BYTE* pData, int nSize) {
    if (m_bFormatKnown) {
        return;
    }
    CRTPParser* pParser = Parser();
    if (LearnInBandFormat(pData, nSize, pParser->Width(), pParser->Height(),
                          pParser->FrameDuration(), &m_Desc) == S_OK) {
        m_bFormatKnown = true;
        SetEvent(m_hFormatKnown);
    }
}

HRESULT CPushPin::DeliverBufferedSamples(uint32_t* pdwFirstFlags) {
    while (CBuffer* pBuffer = m_SampleBuffers.PopHead()) {
        RTPHEADERRECORD record = {};
        ReadRecord(pBuffer, &record);
        Trace("\nCPushPin::OnFirstDataAvailable(%c): Deliver buffered sample %s", Letter(),
              FormatTime(StreamTimeOf(record)));
        const HRESULT hr = DeliverData(pBuffer->Data(), pBuffer->Length(), record.m_tTime,
                                       record.m_dwFlags | *pdwFirstFlags);
        m_SamplePool.PushHead(pBuffer);
        if (hr == S_OK) {
            *pdwFirstFlags = 0;
        } else if (hr != ZRMM_S_PREROLL_DISCARDED) {
            Trace("\nCPushPin::OnFirstDataAvailable(%c): DeliverData returned %s", Letter(),
                  HResultName(hr));
            return hr;
        }
    }
    return S_OK;
}

HRESULT CPushPin::DeliverData(BYTE* pData, int nSize, int64_t tTime, uint32_t dwFlags) {
    if (tTime != -1) {
        tTime -= m_pSession->FlirSecTimeCorrection();
    }
    IPinStream* pStream = m_pStream.load();
    if (dwFlags & RECVFLAG_END_OF_STREAM) {
        Trace("\nCPushPin::DeliverData(%c): EOS!", Letter());
        return pStream ? pStream->EndOfStream() : S_OK;
    }
    if (nSize > 0) {
        LearnFormat(pData, nSize);
    }
    if (!pStream) {
        return S_OK;
    }
    const BYTE* pFrame = pData;
    if (m_Desc.m_nCompression == COMPRESSION_H264) {
        nSize = PrependParameterSets(pData, nSize);
        if (nSize < 0) {
            return E_OUTOFMEMORY;
        }
        pFrame = m_Frame.Length() > 0 ? m_Frame.Data() : pData;
    } else if (m_mt.subtype == WaveFormatGuid(WAVETAG_G726) && nSize >= 1 &&
               m_pSession->m_nG726Reversed == 0 && !m_Desc.m_bG726Aal2) {
        ConvertG726BitOrder(pData, nSize, G726BitsPerCodeWord());
    }
    if (nSize < 1) {
        return S_OK;
    }
    int64_t tStreamTime = 0;
    int64_t tDuration = 0;
    if (tTime != -1) {
        const HRESULT hr = StampTime(nSize, tTime, dwFlags, &tStreamTime);
        if (hr != S_OK) {
            return hr;
        }
        tDuration = SampleDuration();
    }
    Trace("\nCPushPin::DeliverData(%c, %s, %d bytes, %s)", Letter(), FormatTime(tStreamTime), nSize,
          FormatTime(tTime));
    SetExpectedStartTime(tStreamTime);
    const HRESULT hr = SendSample(pStream, pFrame, nSize, tStreamTime, tDuration, dwFlags);
    if (FAILED(hr)) {
        return TraceError(hr, 262, "src\\multimedia\\dshowflt\\rtsp\\mfsource\\pushpin");
    }
    return hr;
}

// The frame's stream time, or the discard code for audio that comes before
// the start.
HRESULT CPushPin::StampTime(int nSize, int64_t tTime, uint32_t dwFlags, int64_t* ptStreamTime) {
    {
        CAutoLock lock(&m_PinLock);
        if (m_tFirstKeyFrameTime != TIME_UNSET && tTime < m_tFirstKeyFrameTime) {
            Trace("\nCPushPin::DeliverData(%c): PREROLL! (%s < %s)", Letter(), FormatTime(tTime),
                  FormatTime(m_tFirstKeyFrameTime));
        }
    }
    if (dwFlags & RTPFLAG_DISCONTINUITY) {
        return StampDiscontinuity(tTime, ptStreamTime);
    }
    RTPHEADERRECORD record = {};
    record.m_tTime = tTime;
    const int64_t tStream = StreamTimeOf(record);
    if (IsAudio() && tStream < 0) {
        Trace("\nCPushPin::DeliverData(A, %s, %d bytes, %s): Discard audio preroll sample",
              FormatTime(tStream), nSize, FormatTime(tTime));
        SetExpectedStartTime(tStream);
        return ZRMM_S_PREROLL_DISCARDED;
    }
    // A server that resumes from an earlier position can repeat the time of
    // the audio frame it starts with; that frame would overlap the last one.
    const int64_t tLast = ExpectedStartTime();
    if (IsAudio() && tLast != TIME_NONE && tStream <= tLast) {
        Trace("\nCPushPin::DeliverData(A, %s, %d bytes): Discard audio sample behind %s",
              FormatTime(tStream), nSize, FormatTime(tLast));
        return ZRMM_S_PREROLL_DISCARDED;
    }
    *ptStreamTime = tStream;
    return S_OK;
}

// After a gap: audio that would overlap what was played is dropped; a frame
// far from where the stream stood moves the time base so that playback
// continues from the expected time.
HRESULT CPushPin::StampDiscontinuity(int64_t tTime, int64_t* ptStreamTime) {
    CStartSync* pSync = m_pSession->StartSync();
    CAutoLock syncLock(pSync->LockObject());
    Trace("\nCPushPin::DeliverData(%c): Discontinuity! received=%s, m_tStartTime=%s, "
          "m_tExpectedStartTime=%s",
          Letter(), FormatTime(tTime), FormatTime(StartTime()), FormatTime(ExpectedStartTime()));
    RTPHEADERRECORD record = {};
    record.m_tTime = tTime;
    int64_t tStream = StreamTimeOf(record);
    int64_t tExpected = ExpectedStartTime();
    if (tExpected == TIME_NONE) {
        tExpected = 0;
    }
    if (IsAudio() && tStream >= tExpected - GAP_TOLERANCE && tStream < tExpected) {
        Trace("\nCPushPin::DeliverData(%c): Discard Preroll audio sample %s", Letter(),
              FormatTime(tStream));
        return ZRMM_S_PREROLL_DISCARDED;
    }
    const int64_t tMargin = StartMargin();
    if (tStream < tExpected - tMargin - GAP_TOLERANCE ||
        tStream > tExpected + tMargin + GAP_TOLERANCE) {
        pSync->InitStreamingSettings();
        const int64_t tGap = SubtractTimes(tStream, pSync->ExpectedStartTime());
        Trace("\nCPushPin::DeliverData(%c): Large gap (%s). Adjust the pins base start time "
              "from %s to %s",
              Letter(), FormatTime(tGap), FormatTime(StartTime()), FormatTime(StartTime() + tGap));
        pSync->AdjustStartTime(this, tGap, tExpected);
        tStream = pSync->ExpectedStartTime();
    }
    pSync->SetTimeAdjusted();
    *ptStreamTime = tStream;
    return S_OK;
}

// Decoders need the sequence header before the first IDR frame they see: an
// IDR frame that follows other frames and brings no parameter sets of its
// own gets the description's in front (behind an access unit delimiter).
// Returns the size of the frame to send, or -1 when out of memory.
int CPushPin::PrependParameterSets(const BYTE* pFrame, int nSize) {
    m_Frame.ResetLength();
    if (nSize < 4) {
        return nSize;
    }
    const NalSummary summary = SummarizeH264Frame(pFrame, nSize);
    if (summary.bParameterSets) {
        m_bParameterSetsNeeded = false;
        return nSize;
    }
    if (!summary.bIdr) {
        m_bParameterSetsNeeded = true;
        return nSize;
    }
    const bool bNeeded = m_bParameterSetsNeeded;
    m_bParameterSetsNeeded = false;
    if (!bNeeded || m_mt.cbFormat <= (ULONG)VIDEOINFOHEADER_SIZE) {
        return nSize;
    }
    const int nAud = summary.nLeadingAudSize;
    if (FAILED(m_Frame.Append(pFrame, nAud)) ||
        FAILED(m_Frame.Append(m_mt.pbFormat + VIDEOINFOHEADER_SIZE,
                              (int)m_mt.cbFormat - VIDEOINFOHEADER_SIZE)) ||
        FAILED(m_Frame.Append(pFrame + nAud, nSize - nAud))) {
        return -1;
    }
    return m_Frame.Length();
}

// A video description without a frame rate of its own has the default one:
// the frame interval measured on the first frames is better once known.
int64_t CPushPin::SampleDuration() {
    if (IsVideo() && !m_Desc.m_bFrameRateKnown) {
        const int64_t tMeasured = Parser()->FrameDuration();
        if (tMeasured > 0) {
            return tMeasured;
        }
    }
    return m_tSampleDuration;
}

int CPushPin::G726BitsPerCodeWord() const {
    if (m_mt.cbFormat < sizeof(WAVEFORMATEX)) {
        return 0;
    }
    const WAVEFORMATEX* pwfx = reinterpret_cast<const WAVEFORMATEX*>(m_mt.pbFormat);
    return (int)(pwfx->nAvgBytesPerSec / 1000);
}

HRESULT CPushPin::SendSample(IPinStream* pStream, const BYTE* pData, int nSize, int64_t tStreamTime,
                             int64_t tDuration, uint32_t dwFlags) {
    ComPtr<IMFMediaBuffer> pBuffer;
    HRESULT hr = MFCreateMemoryBuffer((DWORD)nSize, &pBuffer);
    BYTE* pBytes = nullptr;
    if (SUCCEEDED(hr)) {
        hr = pBuffer->Lock(&pBytes, nullptr, nullptr);
    }
    if (SUCCEEDED(hr)) {
        memcpy(pBytes, pData, (size_t)nSize);
        pBuffer->Unlock();
        hr = pBuffer->SetCurrentLength((DWORD)nSize);
    }
    ComPtr<IMFSample> pSample;
    if (SUCCEEDED(hr)) {
        hr = MFCreateSample(&pSample);
    }
    if (SUCCEEDED(hr)) {
        hr = pSample->AddBuffer(pBuffer.Get());
    }
    if (SUCCEEDED(hr)) {
        hr = pSample->SetSampleTime(tStreamTime);
    }
    if (SUCCEEDED(hr)) {
        hr = pSample->SetSampleDuration(tDuration);
    }
    if (SUCCEEDED(hr)) {
        hr = pSample->SetUINT32(MFSampleExtension_Discontinuity, dwFlags & RTPFLAG_DISCONTINUITY);
    }
    if (SUCCEEDED(hr)) {
        hr = pSample->SetUINT32(MFSampleExtension_CleanPoint, dwFlags & RTPFLAG_SYNCPOINT);
    }
    if (SUCCEEDED(hr)) {
        hr = pStream->DeliverSample(pSample.Get());
    }
    return hr;
}
