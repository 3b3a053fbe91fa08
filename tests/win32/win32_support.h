// Helpers shared by the Windows layer tests. They call Windows directly, so
// that setting up never depends on the layer under test.
#pragma once

#include <string>

namespace win32test {

// A drive letter ("Q:") that no drive uses, searched from Y: downwards.
std::string UnusedDrive();

}  // namespace win32test
