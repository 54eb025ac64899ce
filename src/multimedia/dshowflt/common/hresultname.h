// Names and messages of HRESULTs for trace lines and diagnostics.
#pragma once

#include "platform.h"

// The name of a code, with " - " and its message when it has one; Windows
// Sockets codes give "NAME = description"; unknown codes their hex value.
const char* HResultName(HRESULT hr);
// The same, but "" while tracing is off.
const char* HResultNameGuarded(HRESULT hr);
