// What the player does differently on each system (one file per system,
// chosen by the build): start-up, opening a URL as a media source, the
// ways of playing that only Windows has, the terminal, and the end.
#pragma once

#include <cstdio>
#include <string>

#include "platform.h"

class CPlayer;

// COM and Media Foundation for the player's lifetime.
HRESULT StartPlatform();
void StopPlatform();

// Windows: through the source resolver and the registered scheme handler.
// Linux: through the system's scheme handler directly.
HRESULT OpenMediaSource(const std::wstring& url, IMFMediaSource** ppSource);

// Through a source reader, and through a media session with sample-grabber
// sinks; E_NOTIMPL where the platform has neither.
HRESULT PlayThroughReader(IMFMediaSource* pSource, CPlayer* pPlayer);
HRESULT PlayThroughSession(IMFMediaSource* pSource, CPlayer* pPlayer);

bool IsTerminal(FILE* pStream);
std::wstring WideFromUtf8(const std::string& text);
// Ends the process after flushing the output.
[[noreturn]] void ExitPlayer(int nExitCode);
// Ends the process at once, from any thread, whatever the others are doing
// (a stop that hangs): the output is flushed, nothing else is waited for.
[[noreturn]] void AbandonPlayer(int nExitCode);
