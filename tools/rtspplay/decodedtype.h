// What the player asks the platform's decoders for with --decode: NV12
// pictures and 16-bit PCM sound. A source reader or a media session then
// inserts the decoders; metadata streams are not decoded.
#pragma once

#include "comptr.h"
#include "platform.h"

// The uncompressed type for a stream of the native type: the subtype, the
// picture size (video), or the rate and channels (audio), which the decoder
// keeps. S_FALSE and no type for a stream that is not decoded.
HRESULT CreateDecodedType(IMFMediaType* pNative, IMFMediaType** ppType);

// Replaces *ppType by its decoded type, where the stream is decoded.
HRESULT ReplaceByDecodedType(ComPtr<IMFMediaType>& pType);
