// The Media Foundation media type of a pin, from the pin's DirectShow-style
// media type: the platform's conversion when it does the whole job, our own
// when it fails or leaves the subtype unset or empty (some platforms convert
// only a few formats; the Linux build converts none).
#pragma once

#include <cstdint>

#include "platform.h"

HRESULT CreateMediaTypeFromPinType(const AM_MEDIA_TYPE& mt, IMFMediaType** ppType);

// Our own conversion alone, into an empty type: the record's major type,
// subtype and sample flags; picture size, frame rate and the sequence header
// behind a VIDEOINFOHEADER; the audio fields and the codec configuration
// behind a WAVEFORMATEX (as user data).
HRESULT InitMediaTypeFromPinType(IMFMediaType* pType, const AM_MEDIA_TYPE& mt);

// The sample aspect ratio a video sequence header gives (64:45 for a 4:3
// picture of 720x576, say), which the pin's media type has no field for.
// Nothing changes when either part is 0 (unspecified).
HRESULT SetPixelAspectRatio(IMFMediaType* pType, int32_t nSarWidth, int32_t nSarHeight);
