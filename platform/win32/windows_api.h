#pragma once

// <windows.h> as the Windows layer includes it: without the rarely used
// parts, and without the min and max macros that break the standard library.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
