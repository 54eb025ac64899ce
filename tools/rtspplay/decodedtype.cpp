#include "decodedtype.h"

namespace {

const UINT32 PCM_BITS = 16;

HRESULT CopyUint32(IMFMediaType* pFrom, IMFMediaType* pTo, REFGUID key) {
    UINT32 n = 0;
    return SUCCEEDED(pFrom->GetUINT32(key, &n)) ? pTo->SetUINT32(key, n) : S_OK;
}

HRESULT SetVideo(IMFMediaType* pNative, IMFMediaType* pType) {
    HRESULT hr = pType->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
    UINT64 qwSize = 0;
    if (SUCCEEDED(hr) && SUCCEEDED(pNative->GetUINT64(MF_MT_FRAME_SIZE, &qwSize))) {
        hr = pType->SetUINT64(MF_MT_FRAME_SIZE, qwSize);
    }
    return hr;
}

// The AAC decoder's output has the rate and channels after SBR and PS; the
// native type of MFAudioFormat_AAC gives them before, which is the same
// for the AAC-LC that cameras send.
HRESULT SetAudio(IMFMediaType* pNative, IMFMediaType* pType) {
    HRESULT hr = pType->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    if (SUCCEEDED(hr)) {
        hr = pType->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, PCM_BITS);
    }
    if (SUCCEEDED(hr)) {
        hr = CopyUint32(pNative, pType, MF_MT_AUDIO_SAMPLES_PER_SECOND);
    }
    if (SUCCEEDED(hr)) {
        hr = CopyUint32(pNative, pType, MF_MT_AUDIO_NUM_CHANNELS);
    }
    return hr;
}

} // namespace

HRESULT CreateDecodedType(IMFMediaType* pNative, IMFMediaType** ppType) {
    GUID major = GUID_NULL;
    HRESULT hr = pNative->GetGUID(MF_MT_MAJOR_TYPE, &major);
    const bool bVideo = IsEqualGUID(major, MFMediaType_Video);
    if (FAILED(hr) || (!bVideo && !IsEqualGUID(major, MFMediaType_Audio))) {
        return FAILED(hr) ? hr : S_FALSE;
    }
    ComPtr<IMFMediaType> pType;
    hr = MFCreateMediaType(&pType);
    if (SUCCEEDED(hr)) {
        hr = pType->SetGUID(MF_MT_MAJOR_TYPE, major);
    }
    if (SUCCEEDED(hr)) {
        hr = bVideo ? SetVideo(pNative, pType.Get()) : SetAudio(pNative, pType.Get());
    }
    if (SUCCEEDED(hr)) {
        *ppType = pType.Detach();
    }
    return hr;
}

HRESULT ReplaceByDecodedType(ComPtr<IMFMediaType>& pType) {
    ComPtr<IMFMediaType> pDecoded;
    const HRESULT hr = CreateDecodedType(pType.Get(), &pDecoded);
    if (hr == S_OK) {
        pType = pDecoded;
    }
    return hr;
}
