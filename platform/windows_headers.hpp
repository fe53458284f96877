#pragma once

// <windows.h> the same way everywhere: without the min and max macros that
// break std::min, and without the parts of the API this program never uses.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
