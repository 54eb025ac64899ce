#include "buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "format.h"

CBaseBuffer::~CBaseBuffer() {
    free(m_pData);
}

void CBaseBuffer::Free() {
    free(m_pData);
    m_pData = nullptr;
    m_nLength = 0;
    m_nCapacity = 0;
}

bool CBaseBuffer::EnsureCapacity(int n) {
    if (n < 0) {
        return false; // an overflowed size computation, never a request
    }
    if (n <= m_nCapacity) {
        return true;
    }
    // Growing by half again keeps repeated appends linear.
    int64_t grown = (int64_t)m_nCapacity + m_nCapacity / 2;
    int nNew = grown > n && grown <= INT32_MAX ? (int)grown : n;
    BYTE* p = static_cast<BYTE*>(realloc(m_pData, (size_t)nNew));
    if (!p) {
        p = static_cast<BYTE*>(realloc(m_pData, (size_t)n));
        if (!p) {
            return false;
        }
        nNew = n;
    }
    m_pData = p;
    m_nCapacity = nNew;
    return true;
}

HRESULT CBaseBuffer::Append(const void* p, int n) {
    if (n < 0 || (int64_t)m_nLength + n > INT32_MAX) {
        return E_INVALIDARG;
    }
    if (!EnsureCapacity(m_nLength + n)) {
        return E_OUTOFMEMORY;
    }
    if (n > 0) {
        memcpy(m_pData + m_nLength, p, (size_t)n);
    }
    m_nLength += n;
    return S_OK;
}

HRESULT CBaseBuffer::SetContents(const void* p, int n) {
    if (n < 0) {
        return E_INVALIDARG;
    }
    if (!EnsureCapacity(n)) {
        return E_OUTOFMEMORY;
    }
    if (n > 0) {
        if (p) {
            memmove(m_pData, p, (size_t)n);
        } else {
            memset(m_pData, 0, (size_t)n);
        }
    }
    m_nLength = n;
    return S_OK;
}

HRESULT CBaseBuffer::AppendText(const char* psz, int n) {
    if (n < 0) {
        n = (int)strlen(psz);
    }
    DropTrailingZero();
    HRESULT hr = Append(psz, n);
    return SUCCEEDED(hr) ? AppendTerminatingZero() : hr;
}

HRESULT CBaseBuffer::AppendFormat(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    HRESULT hr = AppendFormatV(pszFormat, args);
    va_end(args);
    return hr;
}

HRESULT CBaseBuffer::AppendFormatV(const char* pszFormat, va_list args) {
    DropTrailingZero();
    // Format into the free space; when the text does not fit, grow and retry.
    for (int nRoom = 256;; nRoom *= 2) {
        if (!EnsureCapacity(m_nLength + nRoom)) {
            return E_OUTOFMEMORY;
        }
        va_list ap;
        va_copy(ap, args);
        int n = FormatStringV(reinterpret_cast<char*>(m_pData) + m_nLength, (size_t)nRoom,
                              pszFormat, ap);
        va_end(ap);
        if (n < nRoom - 1 || nRoom >= (1 << 24)) {
            m_nLength += n + 1;
            return S_OK;
        }
    }
}

HRESULT CBaseBuffer::AppendTerminatingZero() {
    if (m_nLength > 0 && m_pData[m_nLength - 1] == 0) {
        return S_OK;
    }
    const BYTE zero = 0;
    return Append(&zero, 1);
}

void CBaseBuffer::DropTrailingZero() {
    if (m_nLength > 0 && m_pData[m_nLength - 1] == 0) {
        m_nLength--;
    }
}

int CBaseBuffer::TextLength() const {
    return m_nLength > 0 && m_pData[m_nLength - 1] == 0 ? m_nLength - 1 : m_nLength;
}

HRESULT CBaseBuffer::SetFromWide(const WCHAR* psz, UINT codePage) {
    m_nLength = 0;
    int cb = WideCharToMultiByte(codePage, 0, psz, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) {
        return AppendTerminatingZero();
    }
    if (!EnsureCapacity(cb)) {
        return E_OUTOFMEMORY;
    }
    cb = WideCharToMultiByte(codePage, 0, psz, -1, reinterpret_cast<char*>(m_pData), cb, nullptr,
                             nullptr);
    m_nLength = cb > 0 ? cb : 0;
    return AppendTerminatingZero();
}

WCHAR* CBaseBuffer::ToWide(UINT codePage) const {
    const int cb = TextLength();
    int cch = cb > 0 ? MultiByteToWideChar(codePage, 0, Text(), cb, nullptr, 0) : 0;
    WCHAR* psz = new (std::nothrow) WCHAR[cch + 1];
    if (psz) {
        if (cch > 0) {
            MultiByteToWideChar(codePage, 0, Text(), cb, psz, cch);
        }
        psz[cch] = 0;
    }
    return psz;
}

void CBaseBuffer::Swap(CBaseBuffer& other) {
    BYTE* pData = m_pData;
    int nLength = m_nLength;
    int nCapacity = m_nCapacity;
    m_pData = other.m_pData;
    m_nLength = other.m_nLength;
    m_nCapacity = other.m_nCapacity;
    other.m_pData = pData;
    other.m_nLength = nLength;
    other.m_nCapacity = nCapacity;
}

CBuffer::~CBuffer() {
    delete m_pSideBuffer;
}

void CBuffer::Free() {
    CBaseBuffer::Free();
    delete m_pSideBuffer;
    m_pSideBuffer = nullptr;
}

HRESULT CBuffer::SetSideBuffer(const void* p, int n) {
    if (!p || n <= 0) {
        delete m_pSideBuffer;
        m_pSideBuffer = nullptr;
        return S_OK;
    }
    if (!m_pSideBuffer) {
        m_pSideBuffer = new (std::nothrow) CBuffer();
        if (!m_pSideBuffer) {
            return E_OUTOFMEMORY;
        }
    }
    return m_pSideBuffer->SetContents(p, n);
}
