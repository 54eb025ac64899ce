#include "streamfile.h"

#include <cstring>

namespace {

const char AMR_MAGIC[] = "#!AMR\n";
const size_t WAV_HEADER_BYTES = 46; // RIFF, fmt with an 18-byte WAVEFORMATEX, data

void PutLE(BYTE* p, uint32_t nValue, int cb) {
    for (int i = 0; i < cb; i++) {
        p[i] = (BYTE)(nValue >> (8 * i));
    }
}

} // namespace

bool CStreamFile::Open(const std::string& directory, DWORD dwIndex, const StreamFormat& format) {
    if (format.file == FILE_NONE) {
        return false;
    }
    m_format = format;
    m_path = directory + "/stream" + std::to_string(dwIndex) + "." + format.pszExtension;
    m_pFile = fopen(m_path.c_str(), "wb");
    if (!m_pFile) {
        return false;
    }
    switch (format.file) {
    case FILE_ANNEX_B:
    case FILE_MPEG4:
        fwrite(format.config.data(), 1, format.config.size(), m_pFile);
        break;
    case FILE_AMR:
        fwrite(AMR_MAGIC, 1, sizeof(AMR_MAGIC) - 1, m_pFile);
        break;
    case FILE_WAV:
        WriteWavHeader(0);
        break;
    case FILE_OGG_OPUS:
        m_Ogg.Begin(m_pFile, format.nChannels);
        break;
    default:
        break;
    }
    return true;
}

void CStreamFile::Write(const BYTE* pData, size_t cbData) {
    if (!m_pFile) {
        return;
    }
    m_cbData += cbData;
    if (m_format.file == FILE_OGG_OPUS) {
        m_Ogg.WritePacket(pData, cbData);
        return;
    }
    if (m_format.file == FILE_ADTS) {
        WriteAdtsHeader(cbData);
    }
    fwrite(pData, 1, cbData, m_pFile);
    if (m_format.file == FILE_XML) {
        fputc(0, m_pFile);
    }
}

void CStreamFile::Close() {
    if (!m_pFile) {
        return;
    }
    if (m_format.file == FILE_WAV && fseek(m_pFile, 0, SEEK_SET) == 0) {
        WriteWavHeader(m_cbData > 0xFFFFFFFFu - WAV_HEADER_BYTES ? 0 : (uint32_t)m_cbData);
    }
    if (m_format.file == FILE_OGG_OPUS) {
        m_Ogg.End();
    }
    fclose(m_pFile);
    m_pFile = nullptr;
}

// G.711 has 8 bits per sample, PCM those of its type; a G.726 code word has
// as many bits as the bit rate has kilobits per 8000 samples.
void CStreamFile::WriteWavHeader(uint32_t cbData) {
    const bool bG726 = m_format.wFormatTag == 0x45;
    const uint32_t nRate = m_format.nSamplesPerSec ? m_format.nSamplesPerSec : 8000;
    const uint32_t nBits = !bG726                     ? m_format.nBitsPerSample
                           : m_format.nAvgBytesPerSec ? m_format.nAvgBytesPerSec * 8 / nRate
                                                      : 8;
    const uint32_t nChannels = m_format.nChannels ? m_format.nChannels : 1;
    BYTE header[WAV_HEADER_BYTES] = {};
    memcpy(header, "RIFF", 4);
    PutLE(header + 4, (uint32_t)(WAV_HEADER_BYTES - 8 + cbData), 4);
    memcpy(header + 8, "WAVEfmt ", 8);
    PutLE(header + 16, 18, 4);
    PutLE(header + 20, m_format.wFormatTag, 2);
    PutLE(header + 22, nChannels, 2);
    PutLE(header + 24, nRate, 4);
    PutLE(header + 28, nRate * nChannels * nBits / 8, 4);
    PutLE(header + 32, bG726 ? 1 : nChannels * nBits / 8, 2);
    PutLE(header + 34, nBits, 2);
    PutLE(header + 36, 0, 2); // cbSize
    memcpy(header + 38, "data", 4);
    PutLE(header + 42, cbData, 4);
    fwrite(header, 1, sizeof(header), m_pFile);
}

// ISO/IEC 13818-7 6.2: a 7-byte header without CRC, made from the object
// type, sampling-frequency index and channel configuration of the
// AudioSpecificConfig.
void CStreamFile::WriteAdtsHeader(size_t cbAccessUnit) {
    if (m_format.config.size() < 2) {
        return;
    }
    const int nConfig = m_format.config[0] << 8 | m_format.config[1];
    const int nObjectType = nConfig >> 11;
    const int nFrequency = (nConfig >> 7) & 0x0F;
    const int nChannels = (nConfig >> 3) & 0x0F;
    const size_t nLength = cbAccessUnit + 7;
    const BYTE header[7] = {0xFF,
                            0xF1,
                            (BYTE)(((nObjectType - 1) & 3) << 6 | nFrequency << 2 | nChannels >> 2),
                            (BYTE)((nChannels & 3) << 6 | (nLength >> 11 & 3)),
                            (BYTE)(nLength >> 3),
                            (BYTE)((nLength & 7) << 5 | 0x1F),
                            0xFC};
    fwrite(header, 1, sizeof(header), m_pFile);
}
