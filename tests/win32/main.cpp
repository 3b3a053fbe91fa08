// Runs the Windows layer against the real system: under Wine on Linux, or
// directly on Windows.
#include <cstdio>
#include <cstring>
#include <string>

#include "check.h"
#include "suite.h"
#include "platform/win32/windows_api.h"

namespace suite {

bool IsWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string ScratchDir() {
  static std::string dir;
  if (dir.empty()) {
    char temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH + 1, temp);
    std::string base = length > 0 && length <= MAX_PATH ? std::string(temp, length) : "C:\\";
    if (base.back() != '\\') base += '\\';
    dir = base + "sm-layer-test-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(dir.c_str(), nullptr);
  }
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

}  // namespace suite

int main(int argc, char** argv) {
  suite::Options options;
  const char* const labelFlag = "--c-label=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], labelFlag, std::strlen(labelFlag)) == 0) {
      options.cLabel = argv[i] + std::strlen(labelFlag);
    } else {
      std::fprintf(stderr, "unknown argument: %s\n", argv[i]);
      return 2;
    }
  }
  std::printf("Windows layer test (%s), scratch directory %s\n",
              suite::IsWine() ? "Wine" : "Windows", suite::ScratchDir().c_str());

  suite::SystemTests();
  suite::TextTests();
  suite::FilesTests();
  suite::RegistryTests();
  suite::NetworkTests(options);

  suite::RemoveTree(suite::ScratchDir());
  std::printf("\n%d passed, %d failed\n", check::Passed(), check::Failed());
  return check::Failed() == 0 ? 0 : 1;
}
