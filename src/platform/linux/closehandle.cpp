#include "kernelobject.h"
#include "winerror_codes.h"
#include "winkernel.h"

BOOL CloseHandle(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    static_cast<zrlinux::KernelObject*>(h)->Release();
    return TRUE;
}
