// Media Foundation identifiers of newer Windows SDKs that mingw-w64 10's
// headers and import libraries lack, with their published values.
#pragma once

#include <guiddef.h>

// The major type of timed metadata streams (mfapi.h of Windows 10 SDKs).
extern "C" const GUID MFMediaType_Metadata;
