// The DLL's own module handle, stored by the entry point for registration.
#pragma once

#include "platform.h"

extern HMODULE g_hModule;
