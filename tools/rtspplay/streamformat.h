// What the player makes of a stream's media type: its kind and codec name,
// the file it writes the stream to, and the codec configuration that file
// needs (sequence header, AudioSpecificConfig, wave format).
#pragma once

#include <string>
#include <vector>

#include "platform.h"

enum StreamKind { KIND_VIDEO, KIND_AUDIO, KIND_METADATA };

enum FileFormat {
    FILE_NONE,     // nothing common tools read
    FILE_ANNEX_B,  // .h264, .h265: sequence header, then the frames
    FILE_MPEG4,    // .m4v: configuration, then the frames
    FILE_MJPEG,    // .mjpeg: the JPEG frames one after the other
    FILE_ADTS,     // .aac: an ADTS header before every access unit
    FILE_AMR,      // .amr: the magic line, then the storage-format frames
    FILE_WAV,      // .wav: G.711, G.726 and PCM behind a RIFF header
    FILE_RAW,      // .klv, .ts, .nv12: the bytes as they come
    FILE_OGG_OPUS, // .opus: Ogg Opus
    FILE_XML,      // .xml: XML documents, each ended by a zero byte
};

struct StreamFormat {
    StreamKind kind = KIND_METADATA;
    std::string codec; // "H264", "AAC", ...
    GUID subtype = GUID_NULL;
    UINT32 nWidth = 0;
    UINT32 nHeight = 0;
    FileFormat file = FILE_NONE;
    const char* pszExtension = "";
    // Written before the first frame (video), or the configuration the
    // per-frame headers are made from (AAC).
    std::vector<BYTE> config;
    // Audio fields for a WAV header.
    WORD wFormatTag = 0;
    UINT32 nChannels = 0;
    UINT32 nSamplesPerSec = 0;
    UINT32 nAvgBytesPerSec = 0;
    UINT32 nBitsPerSample = 0;
};

StreamFormat DescribeStream(IMFMediaType* pType);
