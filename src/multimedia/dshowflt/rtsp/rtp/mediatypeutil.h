// Helpers for the DirectShow media type record that each pin describes its
// stream with: the GUIDs named by a FourCC or a wave-format tag, and freeing
// and copying a record whose format block lives in COM task memory (so that
// the front end can free it the DirectShow way).
#pragma once

#include "platform.h"

// The GUID whose first 32-bit field is the FourCC (four characters in memory
// order) and whose other fields are 0000-0010-8000-00AA00389B71.
GUID FourCCGuid(DWORD dwFourCC);
// The subtype of a wave format: the same GUID with the tag as first field.
GUID WaveFormatGuid(WORD wFormatTag);

// An empty record with DirectShow's defaults: fixed-size samples of one
// byte, no types, no format block.
void InitMediaType(AM_MEDIA_TYPE* pmt);
// Frees the format block and leaves the record without one. The system's
// records never carry a pUnk.
void FreeMediaType(AM_MEDIA_TYPE* pmt);
// Replaces pTarget (which holds no format block) by a copy of pSource with
// its own format block; E_OUTOFMEMORY leaves pTarget without one.
HRESULT CopyMediaType(AM_MEDIA_TYPE* pTarget, const AM_MEDIA_TYPE* pSource);
// Gives the record a zero-filled format block of cb bytes.
HRESULT AllocateFormatBlock(AM_MEDIA_TYPE* pmt, ULONG cb);
