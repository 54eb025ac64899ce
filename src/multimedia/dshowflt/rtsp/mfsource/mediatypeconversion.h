// The Media Foundation media type of a pin, from the pin's DirectShow-style
// media type: the platform's conversion when it does the whole job, our own
// when it fails or leaves the subtype unset or empty (some platforms convert
// only a few formats; the Linux build converts none).
#pragma once

#include "platform.h"

HRESULT CreateMediaTypeFromPinType(const AM_MEDIA_TYPE& mt, IMFMediaType** ppType);
