#include "urloptions.h"

#include <cstring>

#include "common/trace.h"
#include "common/zrerrors.h"

namespace {

const int64_t kDefaultBufferingAmount = 1000000; // 100 ms
const uint32_t kDefaultBasePort = 1028;
const int64_t kHundredNsPerMs = 10000;

uint32_t ReadDecimal(const char* psz) {
    uint64_t value = 0;
    for (; *psz >= '0' && *psz <= '9'; psz++) {
        value = value * 10 + (uint64_t)(*psz - '0');
        if (value > UINT32_MAX) {
            return UINT32_MAX;
        }
    }
    return (uint32_t)value;
}

struct NumericOption {
    const char* pszName;
    void (*pfnApply)(CUrlOptions* pOptions, uint32_t nValue);
};

// Searched in this order: "MaxTimeout=" must be gone before "Timeout=" is
// looked for.
const NumericOption g_numericOptions[] = {
    {"MaxTimeout=", [](CUrlOptions* p, uint32_t n) { p->m_nMaxTimeout = n; }},
    {"Timeout=", [](CUrlOptions* p, uint32_t n) { p->m_nTimeout = n; }},
    {"Latency=", [](CUrlOptions* p, uint32_t n) { p->m_tBufferingAmount = n * kHundredNsPerMs; }},
    {"Port=", [](CUrlOptions* p, uint32_t n) { p->m_nBasePort = n; }},
    {"Trace=",
     [](CUrlOptions* p, uint32_t n) {
         p->m_nTrace = n;
         if (n != 0) {
             g_TraceModule.AddFlags(TRACE_URL_OPTION);
         }
     }},
    {"G726Reversed=", [](CUrlOptions* p, uint32_t n) { p->m_nG726Reversed = n; }},
    {"EnableSecurityUI=", [](CUrlOptions* p, uint32_t n) { p->m_bEnableSecurityUI = (int32_t)n; }},
};

} // namespace

void CUrlOptions::ResetOptions() {
    m_nMaxTimeout = 0;
    m_nTimeout = 0;
    m_tBufferingAmount = kDefaultBufferingAmount;
    m_nBasePort = kDefaultBasePort;
    m_nTrace = 0;
    m_nG726Reversed = 0;
    m_bEnableSecurityUI = 1;
    m_bTlsVerify = 1;
    m_bMulticast = 0;
    m_nRequestedStreamingType = STREAMINGTYPE_UDP;
    m_StreamingType = STREAMINGTYPE_UDP;
}

HRESULT CUrlOptions::ParseOptions(CBaseBuffer* pPath) {
    m_nRequestedStreamingType = STREAMINGTYPE_UDP;
    CBaseBuffer value;
    for (const NumericOption& option : g_numericOptions) {
        // An option that cannot be copied out (no memory) stays unapplied.
        if (GetOption(pPath, option.pszName, &value) == S_OK) {
            option.pfnApply(this, ReadDecimal(value.Text()));
        }
    }
    // Only a number that reads 0 turns the certificate check off: a word
    // ("TlsVerify=yes") must not.
    if (GetOption(pPath, "TlsVerify=", &value) == S_OK) {
        const bool bNumber = value.Text()[0] >= '0' && value.Text()[0] <= '9';
        m_bTlsVerify = bNumber && ReadDecimal(value.Text()) == 0 ? 0 : 1;
    }
    HRESULT hr = GetOption(pPath, "Transport=", &value);
    if (FAILED(hr)) {
        return hr;
    }
    if (hr == S_OK) {
        const char* pszTransport = value.Text();
        if (strcmp(pszTransport, "multicast") == 0) {
            m_bMulticast = 1;
        } else if (strcmp(pszTransport, "unicast") == 0) {
            m_bMulticast = 0;
        } else if (strcmp(pszTransport, "TCP") == 0) {
            m_nRequestedStreamingType = STREAMINGTYPE_TCP;
        } else if (strcmp(pszTransport, "HTTP") == 0) {
            m_nRequestedStreamingType = STREAMINGTYPE_HTTP;
        } else {
            return ZRMM_E_BAD_URL_OPTION;
        }
    }
    m_StreamingType = m_nRequestedStreamingType;
    return S_OK;
}

HRESULT GetOption(CBaseBuffer* pPath, const char* pszName, CBaseBuffer* pValue) {
    pValue->ResetLength();
    if (FAILED(pPath->AppendTerminatingZero())) {
        return E_OUTOFMEMORY;
    }
    const char* pszPath = pPath->Text();
    const char* pName = pszName[0] ? strstr(pszPath, pszName) : nullptr;
    if (!pName) {
        return S_FALSE;
    }
    // Only a query item counts: "xTimeout=3" is not the option "Timeout=".
    if (pName > pszPath && pName[-1] != '?' && pName[-1] != '&') {
        return S_FALSE;
    }
    const char* pValueStart = pName + strlen(pszName);
    const char* pAmpersand = strchr(pValueStart, '&');
    const int nValue = (int)(pAmpersand ? pAmpersand - pValueStart : (int)strlen(pValueStart));
    if (FAILED(pValue->AppendText(pValueStart, nValue))) {
        return E_OUTOFMEMORY;
    }
    // ?X=1&Y=2 becomes ?Y=2 when X is taken; a last option takes the '?' or
    // '&' before it along.
    char* pText = reinterpret_cast<char*>(pPath->Data());
    const int nPos = (int)(pName - pszPath);
    int nNewLength;
    if (pAmpersand) {
        const int nTail = (int)strlen(pAmpersand + 1);
        memmove(pText + nPos, pAmpersand + 1, (size_t)nTail);
        nNewLength = nPos + nTail;
    } else {
        nNewLength = nPos > 0 ? nPos - 1 : 0;
    }
    pText[nNewLength] = '\0';
    pPath->SetLength(nNewLength + 1);
    return S_OK;
}
