// Playing straight from the media source: every stream selected and
// started, a sample requested for every one received, each event generator
// read by a thread of its own.
#pragma once

#include "player.h"

HRESULT PlayThroughSource(IMFMediaSource* pSource, CPlayer* pPlayer);

// Selects every stream of pPD and registers each with the player under its
// stream identifier, with its first media type, or the type decoded from it
// with --decode.
HRESULT AddStreams(IMFPresentationDescriptor* pPD, CPlayer* pPlayer);

// Pauses the source, or starts it again from where it paused with the
// streams of pPD.
HRESULT PauseOrResume(IMFMediaSource* pSource, IMFPresentationDescriptor* pPD, bool bPause);
