// The Linux platform layer: the subset of the Windows API that the system
// calls, implemented with POSIX, with the Windows semantics and numeric values.
#pragma once

#include "wintypes.h"
#include "winerror_codes.h"
#include "winkernel.h"
#include "dshowtypes.h"
#include "winsock.h"
#include "wininet.h"
#include "com.h"
#include "propvariant.h"
#include "mferror_codes.h"
#include "mfobjects.h"
#include "mfapi.h"
#include "mfidl.h"
#include "platform_ext.h"

// Trace formats use the Windows printf extensions (%S, %I64d), which the glibc
// format checker does not know; the Windows build checks them instead.
#define ZR_PRINTF_FORMAT(fmt, args)
