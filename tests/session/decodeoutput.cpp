#include "decodeoutput.h"

#include <cstdio>

#include "rtsp/rtp/amrdepacketizer.h"

namespace {

// The test servers' audio is audiotestsrc's default sine.
const int TONE_HZ = 440;

// An ADTS header (ISO/IEC 13818-7 6.2) for one raw access unit, from the
// stream's AudioSpecificConfig.
std::string AdtsHeader(const StreamDescription& desc, size_t nAccessUnit) {
    const BYTE* pConfig = desc.m_pParamSets[0].m_pData;
    const int nConfig = pConfig[0] << 8 | pConfig[1];
    const int nObjectType = nConfig >> 11;
    const int nFrequency = (nConfig >> 7) & 0x0F;
    const int nChannels = (nConfig >> 3) & 0x0F;
    const size_t nLength = nAccessUnit + 7;
    const char header[7] = {(char)0xFF,
                            (char)0xF1,
                            (char)(((nObjectType - 1) << 6) | (nFrequency << 2) | (nChannels >> 2)),
                            (char)(((nChannels & 3) << 6) | (nLength >> 11)),
                            (char)(nLength >> 3),
                            (char)(((nLength & 7) << 5) | 0x1F),
                            (char)0xFC};
    return std::string(header, 7);
}

// GStreamer's payloader repeats SPS and PPS before every IDR slice, also
// between the slices of one picture, and FFmpeg starts a new picture at each
// SPS: the pictures FFmpeg counts in one access unit.
int H264PicturesCounted(const std::string& frame) {
    int nPictures = 1;
    bool bSlice = false;
    for (size_t i = 0; i + 3 < frame.size(); i++) {
        if (frame[i] != 0 || frame[i + 1] != 0 || frame[i + 2] != 1) {
            continue;
        }
        const int nType = frame[i + 3] & 0x1F;
        if (nType == 7 && bSlice) {
            nPictures++;
            bSlice = false;
        }
        bSlice = bSlice || nType == 1 || nType == 5;
    }
    return nPictures;
}

void Append(const std::string& path, const std::string& bytes, const char* pszMode) {
    FILE* pFile = fopen(path.c_str(), pszMode);
    if (pFile) {
        fwrite(bytes.data(), 1, bytes.size(), pFile);
        fclose(pFile);
    }
}

} // namespace

void WriteDecodeFile(const std::string& directory, const std::string& name,
                     const StreamDescription& desc, const AM_MEDIA_TYPE& mt,
                     const std::vector<RecordedSample>& samples) {
    std::string data;
    // Video files begin with the sequence header the media type carries.
    if (mt.majortype == MEDIATYPE_Video && mt.cbFormat > sizeof(VIDEOINFOHEADER)) {
        data.assign(reinterpret_cast<const char*>(mt.pbFormat) + sizeof(VIDEOINFOHEADER),
                    mt.cbFormat - sizeof(VIDEOINFOHEADER));
    }
    int nCount = 0;
    for (const RecordedSample& sample : samples) {
        if (desc.m_nCompression == COMPRESSION_AAC) {
            data += AdtsHeader(desc, sample.bytes.size());
        }
        data += sample.bytes;
        // XML documents end with a zero byte, which XML holds nowhere.
        if (desc.m_nCompression == COMPRESSION_ONVIF) {
            data += '\0';
        }
        nCount += desc.m_nCompression == COMPRESSION_H264 ? H264PicturesCounted(sample.bytes) : 1;
    }
    std::string file = name;
    std::string options;
    const char* pszCount = "frames";
    int nTone = 0;
    switch (desc.m_nCompression) {
    case COMPRESSION_H264:
        file += ".h264", options = "-f h264";
        break;
    case COMPRESSION_H265:
        file += ".h265", options = "-f hevc";
        break;
    case COMPRESSION_MP4V:
        file += ".m4v", options = "-f m4v";
        break;
    case COMPRESSION_JPEG:
        file += ".mjpeg", options = "-f mjpeg";
        break;
    case COMPRESSION_AAC:
        file += ".aac", options = "-f aac", nTone = TONE_HZ;
        break;
    case COMPRESSION_AMR:
        nCount = 0;
        for (size_t i = 0; i < data.size(); i += (size_t)AMRStorageFrameSize((BYTE)data[i] >> 3)) {
            nCount++;
        }
        data.insert(0, "#!AMR\n");
        file += ".amr", options = "-f amr", nTone = TONE_HZ;
        break;
    case COMPRESSION_ALAW:
    case COMPRESSION_MULAW:
        nCount = (int)data.size(), pszCount = "samples", nTone = TONE_HZ;
        file += ".raw";
        options = desc.m_nCompression == COMPRESSION_ALAW ? "-f alaw -ar 8000 -ac 1"
                                                          : "-f mulaw -ar 8000 -ac 1";
        break;
    case COMPRESSION_G726: {
        // Delivered most significant bit first, as G726Reversed=0 asks.
        const int nBits = desc.m_nBitRate / 8000;
        nCount = (int)(data.size() * 8 / (size_t)nBits), pszCount = "samples", nTone = TONE_HZ;
        file += ".g726";
        options = "-f g726 -code_size " + std::to_string(nBits);
        break;
    }
    case COMPRESSION_ONVIF:
        file += ".xml", pszCount = "documents", options = "xml";
        break;
    default:
        return; // KLV, Opus: nothing FFmpeg reads them from
    }
    Append(directory + "/" + file, data, "wb");
    Append(directory + "/manifest.txt",
           file + "\t" + pszCount + "\t" + std::to_string(nCount) + "\t" + options + "\t\t" +
               (nTone ? std::to_string(nTone) : "") + "\n",
           "ab");
}
