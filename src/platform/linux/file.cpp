// Files with Windows paths, dispositions, share modes and error codes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "kernelobject.h"
#include "winerror_codes.h"
#include "winkernel.h"

namespace {

class FileObject : public zrlinux::KernelObject {
public:
    explicit FileObject(int fd) : m_fd(fd) {}
    ~FileObject() override { close(m_fd); }
    int m_fd;
};

FileObject* AsFile(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return dynamic_cast<FileObject*>(static_cast<zrlinux::KernelObject*>(h));
}

// Windows accepts backslashes as separators; so does this layer.
std::string NativePath(LPCWSTR path) {
    std::string utf8;
    int n = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
        utf8.resize(n);
        WideCharToMultiByte(CP_UTF8, 0, path, -1, &utf8[0], n, nullptr, nullptr);
        utf8.resize(n - 1);
    }
    for (char& c : utf8) {
        if (c == '\\') {
            c = '/';
        }
    }
    return utf8;
}

DWORD ErrorFromErrno(int err, bool bCreating) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return bCreating ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

} // namespace

HANDLE CreateFileW(LPCWSTR path, DWORD dwAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD, HANDLE) {
    const bool bWrite = (dwAccess & GENERIC_WRITE) != 0;
    int flags = O_CLOEXEC | (bWrite ? ((dwAccess & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY);
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    default:
        break;
    }
    const std::string native = NativePath(path);
    const bool bExisted = ::access(native.c_str(), F_OK) == 0;
    int fd = open(native.c_str(), flags, 0666);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno, (flags & O_CREAT) != 0));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // A writer that does not share writing excludes every other such writer.
    if (bWrite && !(shareMode & FILE_SHARE_WRITE) && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(bExisted && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return static_cast<zrlinux::KernelObject*>(new FileObject(fd));
}

DWORD GetFileSize(HANDLE hFile, LPDWORD highSize) {
    FileObject* pFile = AsFile(hFile);
    struct stat st;
    if (!pFile || fstat(pFile->m_fd, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (highSize) {
        *highSize = (DWORD)((uint64_t)st.st_size >> 32);
    }
    return (DWORD)st.st_size;
}

DWORD SetFilePointer(HANDLE hFile, LONG distance, LONG* highDistance, DWORD method) {
    FileObject* pFile = AsFile(hFile);
    if (!pFile) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t offset =
        highDistance ? (((int64_t)*highDistance) << 32) | (uint32_t)distance : (int64_t)distance;
    int whence = method == FILE_END ? SEEK_END : method == FILE_CURRENT ? SEEK_CUR : SEEK_SET;
    off_t pos = lseek(pFile->m_fd, offset, whence);
    if (pos < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (highDistance) {
        *highDistance = (LONG)((uint64_t)pos >> 32);
    }
    return (DWORD)pos;
}

BOOL WriteFile(HANDLE hFile, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED) {
    FileObject* pFile = AsFile(hFile);
    if (!pFile) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const char* p = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < bytes) {
        ssize_t n = write(pFile->m_fd, p + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (written) {
                *written = done;
            }
            SetLastError(ERROR_WRITE_FAULT);
            return FALSE;
        }
        done += (DWORD)n;
    }
    if (written) {
        *written = done;
    }
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID buffer, DWORD bytes, LPDWORD bytesRead, LPOVERLAPPED) {
    FileObject* pFile = AsFile(hFile);
    if (!pFile) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ssize_t n;
    do {
        n = ::read(pFile->m_fd, buffer, bytes);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    if (bytesRead) {
        *bytesRead = (DWORD)n;
    }
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR path) {
    if (unlink(NativePath(path).c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno, false));
        return FALSE;
    }
    return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    if (mkdir(NativePath(path).c_str(), 0777) != 0) {
        SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno, true));
        return FALSE;
    }
    return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR path) {
    if (rmdir(NativePath(path).c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno, false));
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR path) {
    struct stat st;
    if (stat(NativePath(path).c_str(), &st) != 0) {
        SetLastError(ErrorFromErrno(errno, false));
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

DWORD GetTempPathW(DWORD cchBuffer, LPWSTR buffer) {
    const char* dir = getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/') {
        path += '/';
    }
    int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (n <= 0 || (DWORD)n > cchBuffer) {
        return (DWORD)(n > 0 ? n : 0);
    }
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, buffer, n);
    return (DWORD)(n - 1);
}
