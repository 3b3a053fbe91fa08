// The parts of the Windows layer test and the helpers they share. The helpers
// call Windows directly, so that setting up and cleaning away never depends on
// the layer under test.
#pragma once

#include <string>

namespace suite {

struct Options {
  // Volume label the test harness gave the C: drive; empty when unknown, in
  // which case the layer is compared with a direct system call instead.
  std::string cLabel;
};

void SystemTests();
void TextTests();
void FilesTests();
void RegistryTests();
void NetworkTests(const Options& options);

// True when running under Wine rather than on Windows itself.
bool IsWine();
// A scratch directory of this process below the system temp directory (on
// C:), without the trailing backslash; created on first use.
std::string ScratchDir();
bool WriteTextFile(const std::string& path, const std::string& content);
// Removes a directory and everything below it, read-only entries included.
void RemoveTree(const std::string& path);
// A drive letter ("Q:") that no drive uses, searched from Y: downwards.
std::string UnusedDrive();

}  // namespace suite
