// rtspplay: plays an RTSP URL through the media source and shows what comes.
//
//   rtspplay [--seconds N] [--start S] [--pause AT:FOR] [--out DIR] [--json FILE]
//            [--reader | --session] [--decode] URL
//
// Every stream is played; while a terminal is attached, stderr shows one
// live line per stream. --out writes each stream to a file common tools
// play, --json a summary. --reader and --session (Windows) play through a
// source reader or a media session instead of the source itself; --decode
// (Windows) has the platform's decoders turn the streams into NV12 pictures
// and 16-bit PCM, through a source reader unless --session is given.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "comptr.h"
#include "player.h"
#include "playerplatform.h"
#include "rtsp/maskedurl.h"
#include "sourceplayback.h"

namespace {

const char USAGE[] =
    "usage: rtspplay [--seconds N] [--start S] [--pause AT:FOR] [--out DIR] [--json FILE]\n"
    "                [--reader | --session] [--decode] URL\n"
    "  --seconds N  stop after N seconds of playback (default: at the end or Ctrl-C)\n"
    "  --start S    start S seconds into a stored presentation\n"
    "  --pause AT:FOR  pause after AT seconds of playback for FOR seconds, then resume\n"
    "  --out DIR    write each stream to a file in DIR\n"
    "  --json FILE  write a summary of the streams to FILE\n"
    "  --reader     play through a source reader (Windows)\n"
    "  --session    play through a media session with sample grabbers (Windows)\n"
    "  --decode     decode to NV12 and 16-bit PCM with the platform's decoders, through a\n"
    "               source reader or, with --session, a media session (Windows)\n";

bool ParseOptions(int argc, char** argv, PlayerOptions* pOptions) {
    for (int i = 1; i < argc; i++) {
        const char* pszArg = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (strcmp(pszArg, "--seconds") == 0 && bHasValue) {
            char* pszEnd = nullptr;
            pOptions->dSeconds = strtod(argv[++i], &pszEnd);
            if (*pszEnd != '\0' || !(pOptions->dSeconds > 0)) {
                return false;
            }
        } else if (strcmp(pszArg, "--start") == 0 && bHasValue) {
            char* pszEnd = nullptr;
            pOptions->dStartSeconds = strtod(argv[++i], &pszEnd);
            if (*pszEnd != '\0' || !(pOptions->dStartSeconds >= 0)) {
                return false;
            }
        } else if (strcmp(pszArg, "--pause") == 0 && bHasValue) {
            char chEnd = 0;
            if (sscanf(argv[++i], "%lf:%lf%c", &pOptions->dPauseAt, &pOptions->dPauseFor, &chEnd) !=
                    2 ||
                !(pOptions->dPauseAt >= 0) || !(pOptions->dPauseFor >= 0)) {
                return false;
            }
        } else if (strcmp(pszArg, "--out") == 0 && bHasValue) {
            pOptions->outDirectory = argv[++i];
        } else if (strcmp(pszArg, "--json") == 0 && bHasValue) {
            pOptions->jsonPath = argv[++i];
        } else if (strcmp(pszArg, "--reader") == 0) {
            pOptions->mode = PlayerOptions::MODE_READER;
        } else if (strcmp(pszArg, "--session") == 0) {
            pOptions->mode = PlayerOptions::MODE_SESSION;
        } else if (strcmp(pszArg, "--decode") == 0) {
            pOptions->bDecode = true;
        } else if (pszArg[0] != '-' && pOptions->url.empty()) {
            pOptions->url = pszArg;
        } else {
            return false;
        }
    }
    // Only a pipeline inserts decoders: the source alone gives what it has.
    if (pOptions->bDecode && pOptions->mode == PlayerOptions::MODE_SOURCE) {
        pOptions->mode = PlayerOptions::MODE_READER;
    }
    return !pOptions->url.empty();
}

void OnInterrupt(int) {
    CPlayer::Interrupt();
}

HRESULT Play(IMFMediaSource* pSource, CPlayer* pPlayer) {
    switch (pPlayer->Options().mode) {
    case PlayerOptions::MODE_READER:
        return PlayThroughReader(pSource, pPlayer);
    case PlayerOptions::MODE_SESSION:
        return PlayThroughSession(pSource, pPlayer);
    default:
        return PlayThroughSource(pSource, pPlayer);
    }
}

bool CreateOutputDirectory(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        fprintf(stderr, "rtspplay: cannot create %s: %s\n", directory.c_str(),
                error.message().c_str());
    }
    return !error;
}

// Media Foundation is shut down before the summary is written, so that the
// stop's duration in it covers the whole stop. The password of the URL never
// reaches a message.
int Main(const PlayerOptions& options) {
    if (!options.outDirectory.empty() && !CreateOutputDirectory(options.outDirectory)) {
        StopPlatform();
        return 1;
    }
    CPlayer player(options);
    ComPtr<IMFMediaSource> pSource;
    HRESULT hr = OpenMediaSource(WideFromUtf8(options.url), &pSource);
    if (FAILED(hr)) {
        ReportFailure(("cannot open " + MaskUrlPassword(options.url)).c_str(), hr);
        StopPlatform();
        return 1;
    }
    hr = Play(pSource.Get(), &player);
    player.BeginStop(); // when the playback failed before it ran
    if (FAILED(hr)) {
        ReportFailure(player.FailureText().c_str(), hr);
    }
    player.SetStopStep("the release of the source");
    pSource.Reset();
    player.SetStopStep("the shutdown of Media Foundation");
    StopPlatform();
    player.EndStop();
    const HRESULT hrComplete = player.Complete();
    return SUCCEEDED(hr) && SUCCEEDED(hrComplete) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    PlayerOptions options;
    if (!ParseOptions(argc, argv, &options)) {
        fputs(USAGE, stderr);
        return 2;
    }
    signal(SIGINT, OnInterrupt);
    HRESULT hr = StartPlatform();
    if (FAILED(hr)) {
        ReportFailure("cannot start Media Foundation", hr);
        return 1;
    }
    ExitPlayer(Main(options));
}
