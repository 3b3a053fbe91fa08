// Helpers shared by the Windows layer tests. They call Windows directly, so
// that setting up and cleaning away never depends on the layer under test.
#pragma once

#include <string>

namespace win32test {

// True when running under Wine rather than on Windows itself.
bool IsWine();
// A scratch directory of this process below the system temp directory (on
// C:), without the trailing backslash; created on first use and removed with
// everything in it when the test program ends.
std::string ScratchDir();
bool WriteTextFile(const std::string& path, const std::string& content);
// Removes a directory and everything below it, read-only entries included.
void RemoveTree(const std::string& path);
// A drive letter ("Q:") that no drive uses, searched from Y: downwards.
std::string UnusedDrive();

}  // namespace win32test
