#include "sdprtpmap.h"

#include <cstring>

#include "boundedtext.h"
#include "common/trace.h"

namespace {

// What a row of the codec table reads from the text behind the encoding
// name. It returns where its reading stopped, or null when it consumed the
// rest of the line (then no clock rate is taken from a slash).
typedef const char* (*CodecReader)(StreamDescription* pStream, const char* pName,
                                   const char* pLineEnd);

struct CCodecRow {
    const char* m_pszPrefix;
    int32_t m_nCompression;
    CodecReader m_pfnRead;
};

// "<rate>[/<channels>]" at p: sampling rate and clock rate, one channel
// unless a channel count follows. Returns where the reading stopped.
const char* ReadRateAndChannels(StreamDescription* pStream, const char* p, const char* pLineEnd) {
    const char* pAfter = p;
    const int32_t nRate = ReadInt(p, pLineEnd, &pAfter);
    pStream->m_nSampleRate = nRate;
    pStream->m_nClockRate = nRate;
    pStream->m_nChannels = 1;
    if (pAfter < pLineEnd && *pAfter == '/' && IsDigitAt(pAfter + 1, pLineEnd)) {
        pStream->m_nChannels = ReadInt(pAfter + 1, pLineEnd, &pAfter);
    }
    return pAfter;
}

// The position behind the name and its slash; the slash itself is not
// checked, only the character after it.
const char* SkipName(const char* pName, const char* pLineEnd, const char* pszNameAndSlash) {
    const ptrdiff_t n = (ptrdiff_t)strlen(pszNameAndSlash);
    return pLineEnd - pName > n ? pName + n : pLineEnd;
}

const char* ReadNothing(StreamDescription*, const char* pName, const char*) {
    return pName;
}

// "mpeg4-generic/<rate>/<channels>": in an audio section the rate is also the
// sampling rate (RFC 3640 section 4.1).
const char* ReadMpeg4Generic(StreamDescription* pStream, const char* pName, const char* pLineEnd) {
    const char* pRate = SkipName(pName, pLineEnd, "mpeg4-generic/");
    if (pStream->m_nStreamType != STREAMTYPE_AUDIO || !IsDigitAt(pRate, pLineEnd)) {
        return pName;
    }
    return ReadRateAndChannels(pStream, pRate, pLineEnd);
}

// "G726-<kbit/s>[/<rate>]" (RFC 3551 section 4.5.4), from the bit rate on.
const char* ReadG726Rates(StreamDescription* pStream, const char* pBitRate, const char* pLineEnd) {
    if (!IsDigitAt(pBitRate, pLineEnd)) {
        return nullptr;
    }
    const char* pAfter = pBitRate;
    pStream->m_nBitRate = KilobitsToBits(ReadInt(pBitRate, pLineEnd, &pAfter));
    const char* pSlash = FindChar(pAfter, pLineEnd, '/');
    const int32_t nRate = pSlash < pLineEnd ? ReadInt(pSlash + 1, pLineEnd) : 8000;
    pStream->m_nSampleRate = nRate;
    pStream->m_nClockRate = nRate;
    pStream->m_nChannels = 1;
    return nullptr;
}

const char* ReadG726(StreamDescription* pStream, const char* pName, const char* pLineEnd) {
    return ReadG726Rates(pStream, SkipName(pName, pLineEnd, "G726-"), pLineEnd);
}

// "AAL2-G726-<kbit/s>[/<rate>]" (RFC 3551 section 4.5.4): code words packed
// the other way round, as ITU-T I.366.2 packs them.
const char* ReadAal2G726(StreamDescription* pStream, const char* pName, const char* pLineEnd) {
    pStream->m_bG726Aal2 = 1;
    return ReadG726Rates(pStream, SkipName(pName, pLineEnd, "AAL2-G726-"), pLineEnd);
}

// "smpte336m/<rate>" (RFC 6597): the rate is kept apart from the clock rate.
const char* ReadKlv(StreamDescription* pStream, const char* pName, const char* pLineEnd) {
    const char* pSlash = FindChar(pName, pLineEnd, '/');
    pStream->m_nKlvClockRate = pSlash < pLineEnd && IsDigitAt(pSlash + 1, pLineEnd)
                                   ? ReadInt(pSlash + 1, pLineEnd)
                                   : 90000;
    return nullptr;
}

const char* ReadAmr(StreamDescription* pStream, const char* pName, const char* pLineEnd) {
    const char* pRate = SkipName(pName, pLineEnd, "AMR/");
    return IsDigitAt(pRate, pLineEnd) ? ReadRateAndChannels(pStream, pRate, pLineEnd) : pName;
}

// "PCMA/<rate>[/<channels>]" and "PCMU/...".
const char* ReadG711(StreamDescription* pStream, const char* pName, const char* pLineEnd) {
    const char* pRate = SkipName(pName, pLineEnd, "PCMA/");
    if (IsDigitAt(pRate, pLineEnd)) {
        ReadRateAndChannels(pStream, pRate, pLineEnd);
    }
    return nullptr;
}

// "opus/48000/2" (RFC 7587 section 7): the clock is always 48 kHz and the
// name always says two channels; sprop-stereo in the fmtp line says whether
// the sender sends stereo (sdpfmtp.cpp). Some senders write "/1" for mono.
const char* ReadOpus(StreamDescription* pStream, const char* pName, const char* pLineEnd) {
    pStream->m_nSampleRate = 48000;
    pStream->m_nClockRate = 48000;
    const char* pAfter = SkipName(pName, pLineEnd, "opus/");
    ReadInt(pAfter, pLineEnd, &pAfter);
    const bool bMono = pAfter < pLineEnd && *pAfter == '/' && ReadInt(pAfter + 1, pLineEnd) == 1;
    pStream->m_nChannels = bMono ? 1 : 2;
    return nullptr;
}

const CCodecRow kCodecTable[] = {
    {"H264", COMPRESSION_H264, ReadNothing},
    {"H265", COMPRESSION_H265, ReadNothing},
    {"MP4V", COMPRESSION_MP4V, ReadNothing},
    {"MJPEG", COMPRESSION_JPEG, ReadNothing},
    {"JPEG", COMPRESSION_JPEG, ReadNothing},
    {"mpeg4-generic", COMPRESSION_AAC, ReadMpeg4Generic},
    {"G726-", COMPRESSION_G726, ReadG726},
    {"AAL2-G726-", COMPRESSION_G726, ReadAal2G726},
    {"smpte336m", COMPRESSION_KLVA, ReadKlv},
    {"AMR", COMPRESSION_AMR, ReadAmr},
    {"PCMA/", COMPRESSION_ALAW, ReadG711},
    {"PCMU/", COMPRESSION_MULAW, ReadG711},
    {"opus/", COMPRESSION_OPUS, ReadOpus},
    // ONVIF streaming standard: XML documents, clock rate from the slash.
    {"vnd.onvif.metadata", COMPRESSION_ONVIF, ReadNothing},
};

// Encoding names are case-insensitive (RFC 4566 section 6, rtpmap); senders
// write "smpte336m" and "SMPTE336M", "mpeg4-generic" and "MPEG4-GENERIC".
bool BeginsWithName(const char* p, const char* pEnd, const char* pszName) {
    const size_t n = strlen(pszName);
    return (size_t)(pEnd - p) >= n && _strnicmp(p, pszName, n) == 0;
}

// An unknown encoding keeps its first four bytes, in memory order, as its
// code (bytes beyond the line count as zero).
int32_t FirstFourBytes(const char* pName, const char* pLineEnd) {
    BYTE bytes[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4 && pName + i < pLineEnd; i++) {
        bytes[i] = (BYTE)pName[i];
    }
    int32_t nCode;
    memcpy(&nCode, bytes, sizeof(nCode));
    return nCode;
}

} // namespace

void ProcessRtpMap(StreamDescription* pStream, const char* p, const char* pLineEnd) {
    // The payload number is not compared with the m= line's.
    const char* pName = p;
    ReadInt(p, pLineEnd, &pName);
    pName = SkipWhiteSpace(pName, pLineEnd);

    const char* pPosition = pName;
    const CCodecRow* pRow = nullptr;
    for (const CCodecRow& row : kCodecTable) {
        if (BeginsWithName(pName, pLineEnd, row.m_pszPrefix)) {
            pRow = &row;
            break;
        }
    }
    if (pRow) {
        pStream->m_nCompression = pRow->m_nCompression;
        pPosition = pRow->m_pfnRead(pStream, pName, pLineEnd);
        if (!pPosition) {
            return;
        }
    } else {
        pStream->m_nCompression = FirstFourBytes(pName, pLineEnd);
        Trace("\nRTPSrc::ParseContent: Unknown compression: %.*s", (int)(pLineEnd - pName), pName);
    }
    const char* pSlash = FindChar(pPosition, pLineEnd, '/');
    if (pSlash < pLineEnd) {
        pStream->m_nClockRate = ReadInt(pSlash + 1, pLineEnd);
    }
}
