// Session options carried in the URL's query, such as
// rtsp://camera/stream?Transport=TCP&Timeout=20. ParseOptions takes them out
// of the path before the path is used in any request, so the server never
// sees them. Option names are case-sensitive; numeric values are the decimal
// digits at the start of the value (none reads as 0).
#pragma once

#include <cstdint>

#include "common/buffer.h"
#include "platform.h"

// The transport of the streams (m_StreamingType, m_nRequestedStreamingType).
enum {
    STREAMINGTYPE_UDP = 0,  // RTP over UDP
    STREAMINGTYPE_TCP = 1,  // RTP interleaved on the RTSP connection
    STREAMINGTYPE_HTTP = 2, // RTSP and RTP tunnelled in HTTP
};

// The option values of a session; the session derives from this class.
class CUrlOptions {
public:
    CUrlOptions() { ResetOptions(); }

    // The values that hold when the URL names no option.
    void ResetOptions();
    // Takes every option out of the path, in the order MaxTimeout, Timeout,
    // Latency, Port, Trace, G726Reversed, EnableSecurityUI, TlsVerify,
    // Transport, and applies it. An unknown Transport word gives
    // ZRMM_E_BAD_URL_OPTION.
    HRESULT ParseOptions(CBaseBuffer* pPath);

    uint32_t m_nMaxTimeout;            // seconds; connect time-out and data deadline (0: none)
    uint32_t m_nTimeout;               // seconds; longer request and data waits (0: not set)
    int64_t m_tBufferingAmount;        // 100-ns units (Latency= is in milliseconds)
    uint32_t m_nBasePort;              // first local UDP port tried for a stream's RTP/RTCP pair
    uint32_t m_nTrace;                 // non-zero turns tracing on
    uint32_t m_nG726Reversed;          // non-zero: G.726 frames are delivered as received
    int32_t m_bEnableSecurityUI;       // 0 forbids the login dialog (read at every 401)
    int32_t m_bTlsVerify;              // 0 accepts any certificate of an rtsps server
    int32_t m_bMulticast;              // multicast Transport lines
    int32_t m_nRequestedStreamingType; // STREAMINGTYPE_, from Transport=
    int32_t m_StreamingType;           // STREAMINGTYPE_ in use
};

// Takes the option pszName (including its '=') out of the path. It counts
// only at the start of the path or right after '?' or '&', and only its first
// occurrence is considered. Returns 0 with the value in pValue, 1 when not
// found (pValue emptied), or E_OUTOFMEMORY.
HRESULT GetOption(CBaseBuffer* pPath, const char* pszName, CBaseBuffer* pValue);
