#include "streammediatypes.h"

#include <utility>

#include "mediatypeconversion.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/sessiondescription.h"
#include "standardmediatype.h"

namespace {

// "Z264": a private subtype for H.264 that a decoder registered for it may
// prefer over the standard one.
const DWORD FOURCC_Z264 = 0x3436325A;

// Whether a Media Foundation decoder accepts the Z264 subtype.
bool HasZ264Decoder() {
    MFT_REGISTER_TYPE_INFO input = {MFMediaType_Video, FourCCGuid(FOURCC_Z264)};
    IMFActivate** ppActivate = nullptr;
    UINT32 cActivate = 0;
    HRESULT hr = MFTEnumEx(MFT_CATEGORY_VIDEO_DECODER, MFT_ENUM_FLAG_ALL, &input, nullptr,
                           &ppActivate, &cActivate);
    if (FAILED(hr)) {
        return false;
    }
    for (UINT32 i = 0; i < cActivate; i++) {
        ppActivate[i]->Release();
    }
    CoTaskMemFree(ppActivate);
    return cActivate > 0;
}

bool IsH264(const AM_MEDIA_TYPE& mt) {
    return IsEqualGUID(mt.majortype, MEDIATYPE_Video) &&
           IsEqualGUID(mt.subtype, FourCCGuid((DWORD)COMPRESSION_H264));
}

// The pin's type under the Z264 subtype.
HRESULT CreateZ264MediaType(const AM_MEDIA_TYPE& mt, IMFMediaType** ppType) {
    AM_MEDIA_TYPE z264;
    InitMediaType(&z264);
    HRESULT hr = CopyMediaType(&z264, &mt);
    if (SUCCEEDED(hr)) {
        z264.subtype = FourCCGuid(FOURCC_Z264);
        hr = CreateMediaTypeFromPinType(z264, ppType);
    }
    FreeMediaType(&z264);
    return hr;
}

// The pin's own type, unless the standard form already has its subtype.
HRESULT CreateFurtherMediaType(const AM_MEDIA_TYPE& mt, IMFMediaType* pStandard,
                               IMFMediaType** ppType) {
    if (IsH264(mt)) {
        return CreateZ264MediaType(mt, ppType);
    }
    ComPtr<IMFMediaType> pType;
    HRESULT hr = CreateMediaTypeFromPinType(mt, &pType);
    GUID subtype = GUID_NULL;
    GUID standardSubtype = GUID_NULL;
    if (SUCCEEDED(hr)) {
        hr = pType->GetGUID(MF_MT_SUBTYPE, &subtype);
    }
    if (SUCCEEDED(hr)) {
        hr = pStandard->GetGUID(MF_MT_SUBTYPE, &standardSubtype);
    }
    if (SUCCEEDED(hr) && !IsEqualGUID(subtype, standardSubtype)) {
        *ppType = pType.Detach();
    }
    return hr;
}

} // namespace

HRESULT CreateStreamMediaTypes(const AM_MEDIA_TYPE& mt, const StreamDescription& desc,
                               StreamMediaTypes* pTypes) {
    ComPtr<IMFMediaType> pStandard;
    ComPtr<IMFMediaType> pFurther;
    HRESULT hr = CreateStandardMediaType(mt, &pStandard);
    if (SUCCEEDED(hr)) {
        hr = CreateFurtherMediaType(mt, pStandard.Get(), &pFurther);
    }
    if (FAILED(hr)) {
        return hr;
    }
    IMFMediaType* pOrder[StreamMediaTypes::MAX_TYPES] = {pStandard.Get(), pFurther.Get()};
    if (pFurther && IsH264(mt) && HasZ264Decoder()) {
        std::swap(pOrder[0], pOrder[1]);
    }
    pTypes->m_cTypes = 0;
    for (IMFMediaType* pType : pOrder) {
        if (pType && SUCCEEDED(hr)) {
            hr = SetPixelAspectRatio(pType, desc.m_nSarWidth, desc.m_nSarHeight);
            pTypes->m_pTypes[pTypes->m_cTypes++] = pType;
        }
    }
    return hr;
}
