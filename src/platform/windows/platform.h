// The Windows platform layer: the real Windows API, plus the declarations that
// mingw-w64's headers lack.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mmsystem.h>
#include <wininet.h>
#include <ntsecapi.h>
#include <strmif.h>
#include <amvideo.h>
#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <objbase.h>
#include <propidl.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfobjects.h>
#include <mferror.h>

#include "mfguids_ext.h"
#include "mfschemehandler.h"
#include "platform_ext.h"

// Trace and request formats use the Windows printf conventions; the compiler
// checks them here.
#define ZR_PRINTF_FORMAT(fmt, args) __attribute__((format(ms_printf, fmt, args)))
