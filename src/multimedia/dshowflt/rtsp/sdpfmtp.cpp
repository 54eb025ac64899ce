#include "sdpfmtp.h"

#include <cstring>
#include <new>

#include "boundedtext.h"
#include "common/base64.h"
#include "common/trace.h"

namespace {

// The value of "<name>=<value>" in the lowercased parameter text: the first
// occurrence of the name must be followed directly by '=', and the value runs
// to the next ';', ',', CR or LF. 0 when missing or empty.
int32_t LookUpNumber(const char* pLower, const char* pLowerEnd, const char* pszName) {
    const char* p = FindLiteral(pLower, pLowerEnd, pszName);
    if (!p) {
        return 0;
    }
    p += strlen(pszName);
    if (p >= pLowerEnd || *p != '=') {
        return 0;
    }
    const char* pValue = ++p;
    while (p < pLowerEnd && *p != ';' && *p != ',' && *p != '\r' && *p != '\n') {
        p++;
    }
    return p > pValue ? ReadInt(pValue, p) : 0;
}

// The value behind the first occurrence of "<name>=", or null.
const char* FindValue(const char* p, const char* pEnd, const char* pszNameAndEquals) {
    p = FindLiteral(p, pEnd, pszNameAndEquals);
    return p ? p + strlen(pszNameAndEquals) : nullptr;
}

struct CAuHeaderField {
    const char* m_pszName;
    int32_t StreamDescription::*m_pnField;
};

// RFC 3640 section 4.1. "sizelength" is also found inside
// "auxiliarydatasizelength" when that comes first, as a plain search does.
const CAuHeaderField kAuHeaderFields[] = {
    {"sizelength", &StreamDescription::m_nSizeLength},
    {"indexlength", &StreamDescription::m_nIndexLength},
    {"indexdeltalength", &StreamDescription::m_nIndexDeltaLength},
    {"ctsdeltalength", &StreamDescription::m_nCtsDeltaLength},
    {"dtsdeltalength", &StreamDescription::m_nDtsDeltaLength},
    {"randomaccessindication", &StreamDescription::m_nRandomAccessIndication},
    {"auxiliarydatasizelength", &StreamDescription::m_nAuxiliaryDataSizeLength},
};

// The AU-header field widths and the picture size. Parameter names are
// case-insensitive (RFC 4566 section 6), so they are looked up in a
// lowercased copy.
void ReadAuHeaderLayout(StreamDescription* pStream, const char* pLower, const char* pLowerEnd) {
    bool bAny = false;
    for (const CAuHeaderField& field : kAuHeaderFields) {
        const int32_t n = LookUpNumber(pLower, pLowerEnd, field.m_pszName);
        pStream->*field.m_pnField = n;
        bAny = bAny || n != 0;
    }
    pStream->m_bAuHeaders = bAny ? 1 : 0;
    pStream->m_nWidth = LookUpNumber(pLower, pLowerEnd, "width");
    pStream->m_nHeight = LookUpNumber(pLower, pLowerEnd, "height");
}

struct CAmrOption {
    const char* m_pszName;
    int32_t m_nOption;
};

// RFC 4867 section 8.1. Without octet-align=1 the payload is
// bandwidth-efficient.
const CAmrOption kAmrOptions[] = {
    {"octet-align", AMROPTION_OCTET_ALIGN},
    {"crc", AMROPTION_CRC},
    {"robust-sorting", AMROPTION_ROBUST_SORTING},
    {"interleaving", AMROPTION_INTERLEAVING},
};

void ReadAmrOptions(StreamDescription* pStream, const char* pLower, const char* pLowerEnd) {
    pStream->m_nAmrOptions = 0;
    for (const CAmrOption& option : kAmrOptions) {
        if (LookUpNumber(pLower, pLowerEnd, option.m_pszName) > 0) {
            pStream->m_nAmrOptions |= option.m_nOption;
        }
    }
}

// Appends every non-empty Base64 value of [p, pEnd), split at ','.
HRESULT AppendBase64List(StreamDescription* pStream, const char* p, const char* pEnd,
                         const char* pszTraceTitle) {
    CZRBase64Encoder decoder;
    for (;;) {
        const char* pComma = FindChar(p, pEnd, ',');
        decoder.Reset();
        decoder.ResetLength();
        const int n =
            decoder.Decode(reinterpret_cast<const BYTE*>(p), (int)(pComma - p), nullptr, 0);
        if (n > 0) {
            TraceHexDump(pszTraceTitle, decoder.Data(), n);
            HRESULT hr = pStream->AppendParamSet(decoder.Data(), n);
            if (FAILED(hr)) {
                return hr;
            }
        }
        if (pComma == pEnd) {
            return S_OK;
        }
        p = pComma + 1;
    }
}

const char* const kH265ParameterSetNames[] = {
    "sprop-vps=", "sprop-sps=", "sprop-pps=", "sprop-sei="};

// RFC 7798 section 7.1: the H.265 parameter sets, in the order VPS, SPS, PPS,
// SEI whatever their order in the line. Each value ends at ';'.
HRESULT ReadH265ParameterSets(StreamDescription* pStream, const char* pParams, const char* pEnd) {
    bool bAny = false;
    for (const char* pszName : kH265ParameterSetNames) {
        bAny = bAny || FindLiteral(pParams, pEnd, pszName) != nullptr;
    }
    if (!bAny) {
        return S_OK;
    }
    pStream->ClearParamSets();
    for (const char* pszName : kH265ParameterSetNames) {
        const char* p = FindValue(pParams, pEnd, pszName);
        if (!p) {
            continue;
        }
        const char* pValueEnd = p;
        while (pValueEnd < pEnd && *pValueEnd != ';') {
            pValueEnd++;
        }
        HRESULT hr = AppendBase64List(pStream, p, pValueEnd, "\nParameter data :");
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

// RFC 7587 section 7.1: sprop-stereo=1 says the sender sends stereo, 0 that
// it sends mono; without it the rtpmap's channel count stands.
void ReadOpusChannels(StreamDescription* pStream, const char* pLower, const char* pLowerEnd) {
    const char* p = FindValue(pLower, pLowerEnd, "sprop-stereo=");
    if (pStream->m_nCompression == COMPRESSION_OPUS && p && IsDigitAt(p, pLowerEnd)) {
        pStream->m_nChannels = ReadInt(p, pLowerEnd) == 1 ? 2 : 1;
    }
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// "config=<hex>" (RFC 3640 AudioSpecificConfig, RFC 6416 MPEG-4 visual
// configuration): two hexadecimal digits a byte, up to the first other
// character. A lone last digit is dropped.
HRESULT ReadConfig(StreamDescription* pStream, const char* p, const char* pEnd) {
    const char* pDigitsEnd = p;
    while (pDigitsEnd < pEnd && HexDigitValue(*pDigitsEnd) >= 0) {
        pDigitsEnd++;
    }
    pStream->ClearParamSets();
    const int nBytes = (int)((pDigitsEnd - p) / 2);
    if (nBytes == 0) {
        return S_OK;
    }
    BYTE* pBytes = new (std::nothrow) BYTE[(size_t)nBytes];
    if (!pBytes) {
        return E_OUTOFMEMORY;
    }
    for (int i = 0; i < nBytes; i++) {
        pBytes[i] = (BYTE)(HexDigitValue(p[2 * i]) * 16 + HexDigitValue(p[2 * i + 1]));
    }
    HRESULT hr = pStream->AppendParamSet(pBytes, nBytes);
    delete[] pBytes;
    return hr;
}

HRESULT ReadCaseSensitiveParameters(StreamDescription* pStream, const char* pParams,
                                    const char* pEnd) {
    // RFC 6184 section 8.1: the list runs to the end of the line; a following
    // ";name=value" ends the last value as an invalid Base64 character.
    const char* p = FindValue(pParams, pEnd, "sprop-parameter-sets=");
    if (p) {
        pStream->ClearParamSets();
        HRESULT hr = AppendBase64List(pStream, p, pEnd, "\nParameter data: ");
        if (FAILED(hr)) {
            return hr;
        }
    }
    HRESULT hr = ReadH265ParameterSets(pStream, pParams, pEnd);
    if (FAILED(hr)) {
        return hr;
    }
    p = FindValue(pParams, pEnd, "bitrate=");
    if (p && IsDigitAt(p, pEnd)) {
        pStream->m_nBitRate = KilobitsToBits(ReadInt(p, pEnd));
    }
    // config= configures MPEG-4 payloads (RFC 3640, RFC 6416). Some cameras
    // put a blob of their own into an H.264 line too, beside the parameter
    // sets, which it must not replace.
    p = FindValue(pParams, pEnd, "config=");
    if (p && pStream->m_nCompression != COMPRESSION_H264 &&
        pStream->m_nCompression != COMPRESSION_H265) {
        hr = ReadConfig(pStream, p, pEnd);
        if (FAILED(hr)) {
            return hr;
        }
    }
    p = FindValue(pParams, pEnd, "mode=");
    if (p) {
        if (BeginsWith(p, pEnd, "AAC-hbr")) {
            pStream->m_nAacMode = 0;
        } else if (BeginsWith(p, pEnd, "AAC-lbr")) {
            pStream->m_nAacMode = 1;
        }
    }
    return S_OK;
}

} // namespace

HRESULT ProcessFormatParameters(StreamDescription* pStream, const char* p, const char* pLineEnd) {
    // The payload number is not compared with the m= line's.
    const char* pParams = p;
    ReadInt(p, pLineEnd, &pParams);
    pParams = SkipWhiteSpace(pParams, pLineEnd);

    const size_t cbParams = (size_t)(pLineEnd - pParams);
    char* pLower = new (std::nothrow) char[cbParams + 1];
    if (!pLower) {
        return E_OUTOFMEMORY;
    }
    for (size_t i = 0; i < cbParams; i++) {
        const char c = pParams[i];
        pLower[i] = c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
    }
    ReadAuHeaderLayout(pStream, pLower, pLower + cbParams);
    ReadOpusChannels(pStream, pLower, pLower + cbParams);
    ReadAmrOptions(pStream, pLower, pLower + cbParams);
    delete[] pLower;
    return ReadCaseSensitiveParameters(pStream, pParams, pLineEnd);
}
