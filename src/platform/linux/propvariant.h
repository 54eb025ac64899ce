// PROPVARIANT, the tagged value of COM properties and Media Foundation
// attributes and events, with the layout and type codes of 64-bit Windows.
// The layer copies and clears the types the system uses: empty, 32- and
// 64-bit integers, floating point, Boolean, error codes, wide strings, GUIDs,
// COM objects and byte vectors.
#pragma once

#include <cstring>

#include "com.h"

typedef unsigned short VARTYPE;

enum VARENUM {
    VT_EMPTY = 0,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_LPWSTR = 31,
    VT_CLSID = 72,
    VT_VECTOR = 0x1000,
};

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

typedef struct tagCAUB {
    ULONG cElems;
    UCHAR* pElems;
} CAUB;

typedef struct tagPROPVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        CHAR cVal;
        UCHAR bVal;
        SHORT iVal;
        USHORT uiVal;
        LONG lVal;
        ULONG ulVal;
        INT intVal;
        UINT uintVal;
        LARGE_INTEGER hVal;
        ULARGE_INTEGER uhVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CLSID* puuid;
        LPSTR pszVal;
        LPWSTR pwszVal;
        IUnknown* punkVal;
        CAUB caub;
    };
} PROPVARIANT;
typedef const PROPVARIANT& REFPROPVARIANT;

static_assert(sizeof(PROPVARIANT) == 24, "PROPVARIANT layout");

inline void PropVariantInit(PROPVARIANT* pvar) {
    memset(pvar, 0, sizeof(PROPVARIANT));
}
// Frees what the value owns (string, GUID, vector; releases the object) and
// leaves it VT_EMPTY. STG_E_INVALIDPARAMETER for a type the layer does not
// handle, which is left untouched.
STDAPI PropVariantClear(PROPVARIANT* pvar);
// A deep copy into *pvarDest, which is overwritten without being cleared.
STDAPI PropVariantCopy(PROPVARIANT* pvarDest, const PROPVARIANT* pvarSrc);
