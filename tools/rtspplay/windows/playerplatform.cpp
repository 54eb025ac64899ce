// The player on Windows: the source resolver opens the URL through the
// registered scheme handler, as it does for any Media Foundation
// application.
#include "playerplatform.h"

#include <io.h>

#include "comptr.h"

HRESULT StartPlatform() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) {
        hr = MFStartup(MF_VERSION, MFSTARTUP_FULL);
    }
    return hr;
}

// COM stays initialised until the process ends: uninitialising it unloads
// the scheme handler's DLL, whose trace log writer, when tracing was on,
// waits for its timer thread under the loader lock and never returns.
void StopPlatform() {
    MFShutdown();
}

HRESULT OpenMediaSource(const std::wstring& url, IMFMediaSource** ppSource) {
    ComPtr<IMFSourceResolver> pResolver;
    HRESULT hr = MFCreateSourceResolver(&pResolver);
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    ComPtr<IUnknown> pObject;
    if (SUCCEEDED(hr)) {
        hr = pResolver->CreateObjectFromURL(url.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, &type,
                                            &pObject);
    }
    if (SUCCEEDED(hr)) {
        hr = pObject->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(ppSource));
    }
    return hr;
}

bool IsTerminal(FILE* pStream) {
    return _isatty(_fileno(pStream)) != 0;
}

std::wstring WideFromUtf8(const std::string& text) {
    const int cch = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(cch > 0 ? (size_t)cch : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], cch);
    wide.resize(wide.size() - 1);
    return wide;
}

// A process that ends through ExitProcess under Wine occasionally exits with
// 137 after complete output; terminating it does not.
void ExitPlayer(int nExitCode) {
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), (UINT)nExitCode);
    for (;;) {
    }
}

void AbandonPlayer(int nExitCode) {
    ExitPlayer(nExitCode);
}
