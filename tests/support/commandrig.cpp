#include "commandrig.h"

#include "common/threadcommands.h"

CTestSessionOwner::CTestSessionOwner()
    : m_hConnectionLost(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CTestSessionOwner::~CTestSessionOwner() {
    CloseHandle(m_hConnectionLost);
}

HRESULT CTestSessionOwner::QueueData(int nChannel, BYTE* p, int n) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_packets.push_back(
        {nChannel, p ? std::string(reinterpret_cast<const char*>(p), (size_t)n) : std::string()});
    return S_OK;
}

std::vector<std::pair<int, std::string>> CTestSessionOwner::Packets() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_packets;
}

CCommandRig::CCommandRig() : m_command(&m_hr), m_reader(&m_command, &m_owner, &m_hr) {
    m_command.m_CommonHeaders.AppendText("User-Agent: Morvane RTSP Source\r\n");
}

CCommandRig::~CCommandRig() {
    m_reader.CallWorker(RECVCMD_EXIT);
    m_reader.Close();
    m_command.Close(TRUE);
}

HRESULT CCommandRig::Connect(DWORD dwAddress, WORD wPort, bool bInterleaved) {
    if (FAILED(m_hr)) {
        return m_hr;
    }
    m_command.SetAddress(dwAddress, wPort, 0, FALSE, FALSE);
    HRESULT hr = m_command.OpenSocket(TRUE, 10000);
    if (FAILED(hr)) {
        return hr;
    }
    m_reader.SetInterleaved(bInterleaved);
    if (!m_reader.Create()) {
        return E_FAIL;
    }
    return (HRESULT)m_reader.CallWorker(RECVCMD_READ);
}

void CCommandRig::Disconnect() {
    m_reader.CallWorker(RECVCMD_STOP);
    m_command.Close(TRUE);
}

std::string CCommandRig::Response() {
    CBuffer copy;
    m_command.CopyResponse(&copy);
    return std::string(copy.Text(), (size_t)copy.TextLength());
}
