// Named sections backed by memory. Names are process-wide, as the names the
// system uses embed the process id; every handle and view of one name shares
// the same zero-initialised bytes.
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
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

struct SectionTable {
    std::mutex lock;
    std::map<std::string, Section*> byName;
    std::map<const void*, Section*> byView;
};

// Never destroyed: static objects (the trace log's writer among them) unmap
// their views from their destructors, which may run after this file's.
SectionTable& Sections() {
    static SectionTable* pTable = new SectionTable;
    return *pTable;
}

void ReleaseSectionLocked(Section* pSection) {
    if (--pSection->cRefs == 0) {
        Sections().byName.erase(pSection->name);
        Sections().byView.erase(pSection->pData);
        free(pSection->pData);
        delete pSection;
    }
}

class SectionHandle : public zrlinux::KernelObject {
public:
    explicit SectionHandle(Section* pSection) : m_pSection(pSection) {}
    ~SectionHandle() override {
        std::lock_guard<std::mutex> lock(Sections().lock);
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
    std::lock_guard<std::mutex> lock(Sections().lock);
    auto it = Sections().byName.find(name);
    Section* pSection;
    if (it != Sections().byName.end()) {
        pSection = it->second;
        SetLastError(ERROR_ALREADY_EXISTS);
    } else {
        void* pData = calloc(1, sizeLow);
        if (!pData) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        pSection = new Section{name, pData, 0};
        Sections().byName[name] = pSection;
        Sections().byView[pData] = pSection;
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
    std::lock_guard<std::mutex> lock(Sections().lock);
    pHandle->m_pSection->cRefs++;
    return pHandle->m_pSection->pData;
}

BOOL UnmapViewOfFile(LPCVOID address) {
    std::lock_guard<std::mutex> lock(Sections().lock);
    auto it = Sections().byView.find(address);
    if (it == Sections().byView.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ReleaseSectionLocked(it->second);
    return TRUE;
}
