// Named sections backed by memory. Names are process-wide, as the names the
// system uses embed the process id; every handle and view of one name shares
// the same zero-initialised bytes.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "kernelobject.h"
#include "winerror_codes.h"
#include "winkernel.h"

namespace {

struct Section {
    std::string name;
    void* pData;
    int cRefs; // handles and views
};

std::mutex g_sectionLock;
std::map<std::string, Section*> g_sectionsByName;
std::map<const void*, Section*> g_sectionsByView;

void ReleaseSectionLocked(Section* pSection) {
    if (--pSection->cRefs == 0) {
        g_sectionsByName.erase(pSection->name);
        g_sectionsByView.erase(pSection->pData);
        free(pSection->pData);
        delete pSection;
    }
}

class SectionHandle : public zrlinux::KernelObject {
public:
    explicit SectionHandle(Section* pSection) : m_pSection(pSection) {}
    ~SectionHandle() override {
        std::lock_guard<std::mutex> lock(g_sectionLock);
        ReleaseSectionLocked(m_pSection);
    }
    Section* m_pSection;
};

} // namespace

HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD, DWORD sizeHigh, DWORD sizeLow,
                          LPCSTR name) {
    if (hFile != INVALID_HANDLE_VALUE || sizeHigh != 0 || sizeLow == 0 || !name) {
        SetLastError(ERROR_INVALID_PARAMETER); // only named memory sections are provided
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_sectionLock);
    auto it = g_sectionsByName.find(name);
    Section* pSection;
    if (it != g_sectionsByName.end()) {
        pSection = it->second;
        SetLastError(ERROR_ALREADY_EXISTS);
    } else {
        void* pData = calloc(1, sizeLow);
        if (!pData) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        pSection = new Section{name, pData, 0};
        g_sectionsByName[name] = pSection;
        g_sectionsByView[pData] = pSection;
        SetLastError(ERROR_SUCCESS);
    }
    pSection->cRefs++;
    return static_cast<zrlinux::KernelObject*>(new SectionHandle(pSection));
}

LPVOID MapViewOfFile(HANDLE hMapping, DWORD, DWORD, DWORD, SIZE_T) {
    SectionHandle* pHandle =
        hMapping ? dynamic_cast<SectionHandle*>(static_cast<zrlinux::KernelObject*>(hMapping))
                 : nullptr;
    if (!pHandle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_sectionLock);
    pHandle->m_pSection->cRefs++;
    return pHandle->m_pSection->pData;
}

BOOL UnmapViewOfFile(LPCVOID address) {
    std::lock_guard<std::mutex> lock(g_sectionLock);
    auto it = g_sectionsByView.find(address);
    if (it == g_sectionsByView.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ReleaseSectionLocked(it->second);
    return TRUE;
}
