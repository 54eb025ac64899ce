// The DirectShow media type record and the format blocks it carries, with the
// layouts of the Windows SDK, and the GUIDs that name them.
#pragma once

#include "wintypes.h"

struct IUnknown;

typedef struct _AMMediaType {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
} AM_MEDIA_TYPE;

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER;

typedef struct tagVIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
} VIDEOINFOHEADER;

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} WAVEFORMATEX;
#pragma pack(pop)

static_assert(sizeof(AM_MEDIA_TYPE) == 88, "AM_MEDIA_TYPE layout");
static_assert(sizeof(VIDEOINFOHEADER) == 88, "VIDEOINFOHEADER layout");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX layout");

extern "C" const GUID GUID_NULL;
extern "C" const GUID MEDIATYPE_Video;
extern "C" const GUID MEDIATYPE_Audio;
extern "C" const GUID MEDIATYPE_Stream;
extern "C" const GUID MEDIASUBTYPE_MPEG2_TRANSPORT;
extern "C" const GUID FORMAT_VideoInfo;
extern "C" const GUID FORMAT_WaveFormatEx;
