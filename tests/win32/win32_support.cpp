#include "win32_support.h"

#include <gtest/gtest.h>

#include "platform/win32/windows_api.h"

namespace win32test {
namespace {

// Removes the scratch directory once every test has run.
class ScratchCleanup : public ::testing::Environment {
 public:
  void TearDown() override { RemoveTree(ScratchDir()); }
};

[[maybe_unused]] ::testing::Environment* const kCleanup =
    ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

}  // namespace

bool IsWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string ScratchDir() {
  static const std::string dir = [] {
    char temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH + 1, temp);
    std::string base = length > 0 && length <= MAX_PATH ? std::string(temp, length) : "C:\\";
    if (base.back() != '\\') base += '\\';
    std::string path = base + "sm-layer-test-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(path.c_str(), nullptr);
    return path;
  }();
  return dir;
}

bool WriteTextFile(const std::string& path, const std::string& content) {
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == content.size();
}

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA found{};
  const HANDLE listing = ::FindFirstFileA((path + "\\*").c_str(), &found);
  if (listing != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string entry = path + "\\" + name;
      ::SetFileAttributesA(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(entry);
      } else {
        ::DeleteFileA(entry.c_str());
      }
    } while (::FindNextFileA(listing, &found));
    ::FindClose(listing);
  }
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::RemoveDirectoryA(path.c_str());
}

std::string UnusedDrive() {
  const DWORD used = ::GetLogicalDrives();
  for (int letter = 'Y'; letter >= 'D'; --letter) {
    if ((used & (1u << (letter - 'A'))) == 0) return std::string(1, static_cast<char>(letter)) + ":";
  }
  return std::string();
}

}  // namespace win32test
