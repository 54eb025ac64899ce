// Growable byte buffers. CBaseBuffer is the storage; CBuffer adds the list
// link and an attached side buffer for per-packet metadata. Buffers are used
// for packets, queues, sockets' receive storage and every request and answer
// text. A text buffer keeps its terminating zero inside its length, so that
// its bytes are always a valid C string.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "platform.h"

class CBaseBuffer {
public:
    CBaseBuffer() = default;
    virtual ~CBaseBuffer();
    CBaseBuffer(const CBaseBuffer&) = delete;
    CBaseBuffer& operator=(const CBaseBuffer&) = delete;

    // Releases the storage; the length becomes 0.
    virtual void Free();
    // Grows the storage to at least n bytes, keeping the contents; never
    // shrinks. Returns false when out of memory.
    virtual bool EnsureCapacity(int n);

    BYTE* Data() const { return m_pData; }
    int Length() const { return m_nLength; }
    int Capacity() const { return m_nCapacity; }
    bool IsEmpty() const { return m_nLength == 0; }
    // Sets the used length within the capacity (for callers that filled the
    // storage directly, such as a receive).
    void SetLength(int n) { m_nLength = n < 0 ? 0 : n > m_nCapacity ? m_nCapacity : n; }
    void ResetLength() { m_nLength = 0; }

    // Appends n bytes (E_OUTOFMEMORY when the storage cannot grow).
    HRESULT Append(const void* p, int n);
    // Replaces the contents by n bytes copied from p, or n zero bytes when p
    // is null.
    HRESULT SetContents(const void* p, int n);
    // Text: drops one trailing zero, appends, and terminates again.
    HRESULT AppendText(const char* psz, int n = -1);
    HRESULT AppendFormat(const char* pszFormat, ...) ZR_PRINTF_FORMAT(2, 3);
    HRESULT AppendFormatV(const char* pszFormat, va_list args);
    // Appends a zero unless the last byte already is one.
    HRESULT AppendTerminatingZero();
    // Drops one trailing zero, so that appended text continues the string.
    void DropTrailingZero();
    // The contents as a C string ("" when empty) and its length without the
    // terminating zero.
    const char* Text() const { return m_nLength > 0 ? reinterpret_cast<const char*>(m_pData) : ""; }
    int TextLength() const;

    // Text conversions through a code page: from a wide string (replacing the
    // contents) and to a newly allocated wide string (delete[] by the caller).
    HRESULT SetFromWide(const WCHAR* psz, UINT codePage = CP_UTF8);
    WCHAR* ToWide(UINT codePage = CP_UTF8) const;

    // Exchanges the storage of two buffers.
    void Swap(CBaseBuffer& other);

protected:
    BYTE* m_pData = nullptr;
    int m_nLength = 0;
    int m_nCapacity = 0;
};

class CBuffer : public CBaseBuffer {
public:
    CBuffer() = default;
    ~CBuffer() override;

    void Free() override;

    CBuffer* Next() const { return m_pNext; }
    void SetNext(CBuffer* pNext) { m_pNext = pNext; }

    // The side buffer carries metadata of the bytes in this buffer (arrival
    // tick of a packet, saved RTP header record). Null or zero length deletes
    // it.
    HRESULT SetSideBuffer(const void* p, int n);
    CBuffer* SideBuffer() const { return m_pSideBuffer; }

private:
    CBuffer* m_pNext = nullptr;
    CBuffer* m_pSideBuffer = nullptr;
};
