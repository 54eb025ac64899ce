// The file one stream is written to, in a format common tools play: Annex B
// H.264/H.265 and MPEG-4 video behind their configuration, Motion JPEG, AAC
// with ADTS headers, AMR with its magic line, G.711, G.726 and PCM in WAV,
// Opus in Ogg, KLV, transport streams and NV12 pictures as they come, and
// XML documents each followed by a zero byte (which no XML document holds,
// so a reader splits the file there).
#pragma once

#include <cstdio>
#include <string>

#include "oggopusfile.h"
#include "streamformat.h"

class CStreamFile {
public:
    CStreamFile() = default;
    ~CStreamFile() { Close(); }
    CStreamFile(const CStreamFile&) = delete;
    CStreamFile& operator=(const CStreamFile&) = delete;

    // Creates DIRECTORY/stream<N>.<extension>; false when the format has no
    // file or the file cannot be created.
    bool Open(const std::string& directory, DWORD dwIndex, const StreamFormat& format);
    // One frame (access unit) as delivered.
    void Write(const BYTE* pData, size_t cbData);
    // Completes the file (the sizes of a WAV header, the last Ogg page).
    void Close();
    const std::string& Path() const { return m_path; }

private:
    void WriteWavHeader(uint32_t cbData);
    void WriteAdtsHeader(size_t cbAccessUnit);

    FILE* m_pFile = nullptr;
    std::string m_path;
    StreamFormat m_format;
    uint64_t m_cbData = 0;
    COggOpusFile m_Ogg;
};
