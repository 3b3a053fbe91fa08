// The one place where the Windows layer includes <windows.h>. Lean mode keeps
// out the rarely used headers, NOMINMAX keeps min/max away from <algorithm>;
// both may already come from the command line, so only define them when absent.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>

// Lean mode leaves out the network connection functions (MPR).
#include <winnetwk.h>
