// Windows implementation of the files concern.
#include <io.h>

#include <string>

#include "platform/files.h"
#include "platform/win32/log_file.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

HANDLE ToHandle(FindHandle handle) { return reinterpret_cast<HANDLE>(handle); }

void CopyEntry(const WIN32_FIND_DATAA& found, FindData& data) {
  data.attributes = static_cast<std::uint32_t>(found.dwFileAttributes);
  data.name = found.cFileName;
}

class WinFiles : public Files {
 public:
  int Access(const std::string& path, int mode) override {
    // The C runtime knows only the existence (0), write (2) and read (4)
    // bits; any other mode makes its parameter check end the process, so
    // the remaining bits are dropped rather than passed on.
    return ::_access(path.c_str(), mode & 6) == 0 ? 0 : -1;
  }

  bool MakeDirectory(const std::string& path) override {
    return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE;
  }

  FindHandle FindFirst(const std::string& pattern, FindData& data) override {
    WIN32_FIND_DATAA found{};
    const HANDLE handle = ::FindFirstFileA(pattern.c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) return kInvalidFind;
    CopyEntry(found, data);
    return reinterpret_cast<FindHandle>(handle);
  }

  bool FindNext(FindHandle handle, FindData& data) override {
    if (handle == kInvalidFind) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    WIN32_FIND_DATAA found{};
    if (!::FindNextFileA(ToHandle(handle), &found)) return false;
    CopyEntry(found, data);
    return true;
  }

  bool FindEnd(FindHandle handle) override {
    if (handle == kInvalidFind) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return ::FindClose(ToHandle(handle)) != FALSE;
  }

  bool SetAttributes(const std::string& path, std::uint32_t attributes) override {
    return ::SetFileAttributesA(path.c_str(), static_cast<DWORD>(attributes)) != FALSE;
  }

  bool RemoveFile(const std::string& path) override {
    return ::DeleteFileA(path.c_str()) != FALSE;
  }

  bool RemoveDir(const std::string& path) override {
    return ::RemoveDirectoryA(path.c_str()) != FALSE;
  }

  std::unique_ptr<std::streambuf> OpenLogFile(const std::string& path) override {
    return win32::OpenLogFile(path);
  }

  ErrorCode LastError() override { return static_cast<ErrorCode>(::GetLastError()); }
};

}  // namespace

Files& RealFiles() {
  static WinFiles instance;
  return instance;
}

}  // namespace platform
