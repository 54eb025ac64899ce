// A session driven through canned answers: a DESCRIBE answer makes its
// pins, a SETUP answer is applied to each pin and a PLAY answer to the
// session, as the state machine applies them, without a network.
//
// Input: one mode byte (bit 0: interleaved TCP, else UDP), then the three
// answers separated by two zero bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzsupport.h"
#include "rtsp/mfsource/pushpin.h"
#include "rtsp/zrrtspsrc.h"

namespace {

const int MAX_SESSION_HEADER = 9 + 512 + 2;
const char REQUEST_URL[] = "rtsp://camera.example:8554/live";

class CFuzzedSession : public CZRtspSrc {
public:
    explicit CFuzzedSession(HRESULT* phr) : CZRtspSrc(phr) {}

    void Play(int nStreamingType, const std::string& describe, const std::string& setup,
              const std::string& play) {
        m_StreamingType = nStreamingType;
        m_RequestUrl.AppendText(REQUEST_URL);
        if (FAILED(ProcessDescribeResponse(describe.c_str(), (int)describe.size()))) {
            return;
        }
        for (int i = 0; i < GetPinCount(); i++) {
            CPushPin* pPin = GetPin(i);
            CheckControlUrl(pPin);
            if (ApplySetupAnswer(pPin, setup.c_str(), (int)setup.size()) == S_OK) {
                CheckSetup(pPin, nStreamingType);
            }
        }
        ApplyPlayAnswer(play.c_str(), (int)play.size());
    }

private:
    // A stream's SETUP URL is an absolute rtsp URL (the content base's, or
    // the request URL's host and port), unless its own control attribute
    // names another absolute URL; it stays on one line.
    static void CheckControlUrl(CPushPin* pPin) {
        CBuffer url;
        FUZZ_INVARIANT(SUCCEEDED(pPin->GetControlUrl(&url)));
        const char* pszControl = pPin->Description().m_pszControl;
        FUZZ_INVARIANT(_strnicmp(url.Text(), "rtsp://", 7) == 0 ||
                       (pszControl && strstr(pszControl, "://")));
        FUZZ_INVARIANT(strcspn(url.Text(), "\r\n") == strlen(url.Text()));
    }

    void CheckSetup(CPushPin* pPin, int nStreamingType) {
        const char* pszHeader = m_SessionHeader.Text();
        const int n = m_SessionHeader.TextLength();
        FUZZ_INVARIANT(n > 11 && n <= MAX_SESSION_HEADER);
        FUZZ_INVARIANT(strncmp(pszHeader, "Session: ", 9) == 0);
        FUZZ_INVARIANT(strcspn(pszHeader, "\r\n") == (size_t)n - 2);
        if (nStreamingType != STREAMINGTYPE_UDP) {
            FUZZ_INVARIANT(pPin->RtpChannel() >= 0 && pPin->RtpChannel() <= 255);
            FUZZ_INVARIANT(pPin->RtcpChannel() >= 0 && pPin->RtcpChannel() <= 255);
        }
        const DWORD dwInterval = KeepAlive()->Interval();
        FUZZ_INVARIANT(dwInterval == INFINITE || dwInterval <= 86400000u);
    }
};

std::string NextPart(const uint8_t** pp, const uint8_t* pEnd) {
    const uint8_t* p = *pp;
    const uint8_t* q = p;
    while (q < pEnd && !(q + 1 < pEnd && q[0] == 0 && q[1] == 0)) {
        q++;
    }
    *pp = q + 1 < pEnd ? q + 2 : pEnd;
    return std::string(reinterpret_cast<const char*>(p), (size_t)(q - p));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t* p = data + 1;
    const uint8_t* pEnd = data + size;
    const std::string describe = NextPart(&p, pEnd);
    const std::string setup = NextPart(&p, pEnd);
    const std::string play = NextPart(&p, pEnd);
    HRESULT hr = S_OK;
    CFuzzedSession* pSession = new CFuzzedSession(&hr);
    if (SUCCEEDED(hr)) {
        pSession->Play((data[0] & 1) ? STREAMINGTYPE_TCP : STREAMINGTYPE_UDP, describe, setup,
                       play);
    }
    pSession->Release();
    return 0;
}
