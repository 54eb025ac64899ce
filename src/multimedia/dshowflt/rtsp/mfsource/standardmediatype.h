// The media type in the form Media Foundation's own decoders take for a
// pin's stream: the platform's subtype of the codec and the attributes its
// decoder documents (profile, interlace mode and sequence header of H.264
// and HEVC, the AAC payload type and user data, ...). The samples stay the
// pin's bytes; only their description changes.
#pragma once

#include "platform.h"

// Built by our own conversion of the pin's type, the same on every platform,
// then completed per codec. A pin type of a codec without a standard form of
// its own (an MPEG-2 transport stream, say) is converted as it is.
HRESULT CreateStandardMediaType(const AM_MEDIA_TYPE& mt, IMFMediaType** ppType);
