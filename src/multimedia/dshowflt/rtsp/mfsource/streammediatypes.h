// The media types a stream descriptor offers for a pin, best first: the
// platform's standard form, so that the source reader and the media session
// find the platform's decoder; then the pin's own type where its subtype
// differs (what applications written against it ask for); and for H.264 the
// private Z264 subtype, which comes first only when a decoder registered for
// it is there to prefer it.
#pragma once

#include "comptr.h"
#include "platform.h"

struct StreamDescription;

struct StreamMediaTypes {
    static const DWORD MAX_TYPES = 2;
    ComPtr<IMFMediaType> m_pTypes[MAX_TYPES];
    DWORD m_cTypes = 0;
};

// Every type also carries the sample aspect ratio that the description took
// from the sequence header.
HRESULT CreateStreamMediaTypes(const AM_MEDIA_TYPE& mt, const StreamDescription& desc,
                               StreamMediaTypes* pTypes);
