#include "mediatypeconversion.h"

#include <cstdint>
#include <cstring>

#include "comptr.h"
#include "rtsp/rtp/mediatypeutil.h"

namespace {

const REFERENCE_TIME ONE_SECOND = 10000000;

UINT64 GreatestCommonDivisor(UINT64 a, UINT64 b) {
    while (b != 0) {
        const UINT64 r = a % b;
        a = b;
        b = r;
    }
    return a;
}

// The bytes behind a fixed-size format structure, as an attribute.
HRESULT SetTrailingBytes(IMFMediaType* pType, REFGUID key, const AM_MEDIA_TYPE& mt, size_t cbHeader,
                         size_t cbWanted) {
    const size_t cbAvailable = mt.cbFormat - cbHeader;
    const size_t cb = cbWanted < cbAvailable ? cbWanted : cbAvailable;
    return cb > 0 ? pType->SetBlob(key, mt.pbFormat + cbHeader, (UINT32)cb) : S_OK;
}

// Picture size, frame rate, bit rate, and the sequence header behind the
// VIDEOINFOHEADER.
HRESULT SetVideoInfoAttributes(IMFMediaType* pType, const AM_MEDIA_TYPE& mt) {
    VIDEOINFOHEADER vih;
    memcpy(&vih, mt.pbFormat, sizeof(vih));
    const LONG nWidth = vih.bmiHeader.biWidth;
    const LONG nHeight = vih.bmiHeader.biHeight;
    HRESULT hr = pType->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    if (SUCCEEDED(hr)) {
        hr = MFSetAttributeRatio(pType, MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    }
    if (SUCCEEDED(hr) && nWidth > 0 && nHeight != 0 && nHeight != INT32_MIN) {
        hr = MFSetAttributeSize(pType, MF_MT_FRAME_SIZE, (UINT32)nWidth,
                                (UINT32)(nHeight < 0 ? -nHeight : nHeight));
    }
    if (SUCCEEDED(hr) && vih.AvgTimePerFrame > 0 && vih.AvgTimePerFrame <= 0xFFFFFFFF) {
        const UINT64 nDivisor = GreatestCommonDivisor(ONE_SECOND, (UINT64)vih.AvgTimePerFrame);
        hr = MFSetAttributeRatio(pType, MF_MT_FRAME_RATE, (UINT32)(ONE_SECOND / nDivisor),
                                 (UINT32)((UINT64)vih.AvgTimePerFrame / nDivisor));
    }
    if (SUCCEEDED(hr) && vih.dwBitRate > 0) {
        hr = pType->SetUINT32(MF_MT_AVG_BITRATE, vih.dwBitRate);
    }
    if (SUCCEEDED(hr)) {
        hr = SetTrailingBytes(pType, MF_MT_MPEG_SEQUENCE_HEADER, mt, sizeof(vih), mt.cbFormat);
    }
    return hr;
}

// The subtype named by the format tag, the audio fields, and the codec
// configuration behind the WAVEFORMATEX (the AudioSpecificConfig of AAC) as
// user data.
HRESULT SetWaveFormatAttributes(IMFMediaType* pType, const AM_MEDIA_TYPE& mt) {
    WAVEFORMATEX wfx;
    memcpy(&wfx, mt.pbFormat, sizeof(wfx));
    HRESULT hr = pType->SetGUID(MF_MT_SUBTYPE, WaveFormatGuid(wfx.wFormatTag));
    if (SUCCEEDED(hr)) {
        hr = pType->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, wfx.nChannels);
    }
    if (SUCCEEDED(hr)) {
        hr = pType->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, wfx.nSamplesPerSec);
    }
    if (SUCCEEDED(hr)) {
        hr = pType->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, wfx.nAvgBytesPerSec);
    }
    if (SUCCEEDED(hr)) {
        hr = pType->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, wfx.nBlockAlign);
    }
    if (SUCCEEDED(hr) && wfx.wBitsPerSample > 0) {
        hr = pType->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, wfx.wBitsPerSample);
    }
    if (SUCCEEDED(hr)) {
        hr = SetTrailingBytes(pType, MF_MT_USER_DATA, mt, sizeof(wfx), wfx.cbSize);
    }
    return hr;
}

} // namespace

HRESULT InitMediaTypeFromPinType(IMFMediaType* pType, const AM_MEDIA_TYPE& mt) {
    HRESULT hr = pType->SetGUID(MF_MT_MAJOR_TYPE, mt.majortype);
    if (SUCCEEDED(hr)) {
        hr = pType->SetGUID(MF_MT_SUBTYPE, mt.subtype);
    }
    if (SUCCEEDED(hr)) {
        hr = pType->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, !mt.bTemporalCompression);
    }
    if (SUCCEEDED(hr)) {
        hr = pType->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, mt.bFixedSizeSamples);
    }
    if (SUCCEEDED(hr) && mt.bFixedSizeSamples) {
        hr = pType->SetUINT32(MF_MT_SAMPLE_SIZE, mt.lSampleSize);
    }
    if (FAILED(hr) || !mt.pbFormat) {
        return hr;
    }
    if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        return SetVideoInfoAttributes(pType, mt);
    }
    if (IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) && mt.cbFormat >= sizeof(WAVEFORMATEX)) {
        return SetWaveFormatAttributes(pType, mt);
    }
    return S_OK;
}

HRESULT CreateMediaTypeFromPinType(const AM_MEDIA_TYPE& mt, IMFMediaType** ppType) {
    ComPtr<IMFMediaType> pType;
    HRESULT hr = MFCreateMediaType(&pType);
    if (FAILED(hr)) {
        return hr;
    }
    GUID subtype = GUID_NULL;
    if (FAILED(MFInitMediaTypeFromAMMediaType(pType.Get(), &mt)) ||
        FAILED(pType->GetGUID(MF_MT_SUBTYPE, &subtype)) || IsEqualGUID(subtype, GUID_NULL)) {
        hr = pType->DeleteAllItems();
        if (SUCCEEDED(hr)) {
            hr = InitMediaTypeFromPinType(pType.Get(), mt);
        }
    }
    if (SUCCEEDED(hr)) {
        *ppType = pType.Detach();
    }
    return hr;
}

HRESULT SetPixelAspectRatio(IMFMediaType* pType, int32_t nSarWidth, int32_t nSarHeight) {
    if (nSarWidth <= 0 || nSarHeight <= 0) {
        return S_OK;
    }
    return MFSetAttributeRatio(pType, MF_MT_PIXEL_ASPECT_RATIO, (UINT32)nSarWidth,
                               (UINT32)nSarHeight);
}
