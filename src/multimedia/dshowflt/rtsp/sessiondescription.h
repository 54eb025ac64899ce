// The parsed session description: one SessionDescription per session with one
// StreamDescription per media section, filled by ParseContent (sdpparser.h).
// Everything that later decides how a stream is set up, depacketized and
// typed comes from here.
#pragma once

#include <cstdint>

#include "common/buffer.h"
#include "platform.h"

// Compression codes (m_nCompression). Codecs named by FourCC keep the four
// characters in memory order; the audio codes are the Windows wave-format
// tags of those codecs.
enum : int32_t {
    COMPRESSION_NONE = -1,
    COMPRESSION_AAC = -2,
    COMPRESSION_ALAW = 6,
    COMPRESSION_MULAW = 7,
    COMPRESSION_G726 = 69,
    COMPRESSION_AMR = 31265,        // 0x7A21, AMR narrow-band
    COMPRESSION_OPUS = 0x704F,      // Opus
    COMPRESSION_H264 = 0x34363248,  // "H264"
    COMPRESSION_H265 = 0x35363268,  // "h265"
    COMPRESSION_MP4V = 0x5634504D,  // "MP4V"
    COMPRESSION_JPEG = 0x6765706A,  // "jpeg"
    COMPRESSION_KLVA = 0x41564C4B,  // "KLVA"
    COMPRESSION_ONVIF = 0x46564E4F, // "ONVF", ONVIF metadata: XML documents
};

// AMR payload options (m_nAmrOptions), from the fmtp parameters of RFC 4867
// section 8.1.
enum : int32_t {
    AMROPTION_OCTET_ALIGN = 0x01,
    AMROPTION_CRC = 0x02,
    AMROPTION_ROBUST_SORTING = 0x04,
    AMROPTION_INTERLEAVING = 0x08,
};

// Media kinds (m_nStreamType).
enum : int32_t {
    STREAMTYPE_OTHER = -1,
    STREAMTYPE_VIDEO = 0,
    STREAMTYPE_AUDIO = 1,
    STREAMTYPE_APPLICATION = 2,
};

// Range types (m_nRangeType).
enum : int32_t {
    RANGETYPE_NPT = 0,
    RANGETYPE_SMPTE = 1, // 30 frames per second, also smpte-30-drop
    RANGETYPE_SMPTE25 = 2,
};

// Decoder configuration bytes: one H.264/H.265 parameter-set NAL unit as
// carried in SDP (no start code), or the config= bytes.
struct ParamSet {
    int32_t m_nLength;
    BYTE* m_pData;
};

struct StreamDescription {
    explicit StreamDescription(double dFrameRate = 30.0);
    ~StreamDescription();
    StreamDescription(const StreamDescription&) = delete;
    StreamDescription& operator=(const StreamDescription&) = delete;

    // Replaces the control URL by a NUL-terminated copy of n characters.
    HRESULT SetControl(const char* psz, int n);
    // Replaces the connection address by a copy of n characters.
    HRESULT SetConnectionAddress(const char* psz, int n);
    // Appends a copy of n bytes as a new parameter set.
    HRESULT AppendParamSet(const BYTE* p, int n);
    void ClearParamSets();
    // Moves this description into pTarget: copies every field and leaves this
    // description's control URL, parameter sets and connection address empty.
    void TransferTo(StreamDescription* pTarget);

    int32_t m_nStreamType = STREAMTYPE_OTHER;
    int32_t m_nCompression = COMPRESSION_NONE;
    int32_t m_nPayloadType = -1;
    int32_t m_nPort = 0;
    int32_t m_nClockRate = -1;
    char* m_pszControl = nullptr;
    int32_t m_nParamSets = 0;
    int32_t m_nAvgBitRate = 0;
    ParamSet* m_pParamSets = nullptr;
    double m_dFrameRate;
    // Set when m_dFrameRate is the stream's own: from a=framerate, or from the
    // timing of its sequence header (written by BuildMediaType). Otherwise it
    // is the default, and the pin measures the frame interval on the first
    // frames (CRTPParser::FrameDuration).
    int32_t m_bFrameRateKnown = 0;
    int32_t m_nWidth = -1;
    int32_t m_nHeight = -1;
    // Sample aspect ratio from the sequence header; 0:0 when unspecified.
    int32_t m_nSarWidth = 0;
    int32_t m_nSarHeight = 0;
    int32_t m_nSampleRate = -1;
    int32_t m_nChannels = -1;
    int32_t m_nBitRate = -1;
    int32_t m_nAacMode = -1;
    // Set whenever the encoding is smpte336m; -1 otherwise, so that a
    // metadata stream of another encoding cannot be typed.
    int32_t m_nKlvClockRate = -1;
    int32_t m_bAuHeaders = 0;
    int32_t m_nSizeLength = 0;
    int32_t m_nIndexLength = 0;
    int32_t m_nIndexDeltaLength = 0;
    int32_t m_nCtsDeltaLength = 0;
    int32_t m_nDtsDeltaLength = 0;
    int32_t m_nRandomAccessIndication = 0;
    int32_t m_nAuxiliaryDataSizeLength = 0;
    int32_t m_nAmrOptions = 0;
    // G.726 named AAL2-G726-n: code words packed most significant bit first
    // (ITU-T I.366.2), not as RFC 3551 packs them.
    int32_t m_bG726Aal2 = 0;
    // The SSRC this receiver reports for the stream in its receiver reports.
    uint32_t m_nReceiverSsrc = 0;
    CBaseBuffer m_ConnectionAddress;

private:
    void FreeOwned();

    int32_t m_nParamSetCapacity = 0;
};

struct SessionDescription {
    SessionDescription() = default;
    ~SessionDescription();
    SessionDescription(const SessionDescription&) = delete;
    SessionDescription& operator=(const SessionDescription&) = delete;

    // Frees all stream descriptions and resets the range, the session-level
    // control and the FlirSec flag; the connection address and the default
    // frame rate stay.
    void Clear();
    // Appends a new stream description that inherits m_dDefaultFrameRate.
    HRESULT AddStream(StreamDescription** ppStream);
    HRESULT SetConnectionAddress(const char* psz, int n);
    HRESULT SetControl(const char* psz, int n);

    int32_t m_nRangeType = RANGETYPE_NPT;
    double m_dRangeStart = 0.0;
    double m_dRangeEnd = -1.0; // -1.0: open-ended
    int64_t m_tDuration = 0;   // 100 ns, set only when the end lies after the start
    int32_t m_nStreams = 0;
    StreamDescription** m_ppStreams = nullptr;
    CBaseBuffer m_ConnectionAddress;
    // The session-level control attribute (the aggregate control URL, RFC
    // 2326 appendix C.1.1); empty when the description has none.
    CBaseBuffer m_Control;
    double m_dDefaultFrameRate = 30.0;
    int32_t m_bFlirSecServer = 0;

private:
    int32_t m_nStreamCapacity = 0;
};
