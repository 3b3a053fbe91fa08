// Windows implementation of the files concern.
#include <io.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/log_buffer.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

HANDLE ToHandle(FindHandle handle) { return reinterpret_cast<HANDLE>(handle); }

void CopyEntry(const WIN32_FIND_DATAA& found, FindData& data) {
  data.attributes = static_cast<std::uint32_t>(found.dwFileAttributes);
  data.name = found.cFileName;
}

// Writes to a file handle it owns, a newline as CR LF (the log is a text
// file).
class HandleBuffer : public LogBuffer {
 public:
  explicit HandleBuffer(HANDLE handle) : handle_(handle) {}
  ~HandleBuffer() override {
    Drain();
    ::CloseHandle(handle_);
  }

 protected:
  bool Write(const char* data, std::size_t size) override {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == '\n') text += '\r';
      text += data[i];
    }
    for (std::size_t done = 0; done < text.size();) {
      DWORD written = 0;
      const DWORD length = static_cast<DWORD>(text.size() - done);
      if (!::WriteFile(handle_, text.data() + done, length, &written, nullptr) || written == 0) return false;
      done += written;
    }
    return true;
  }

 private:
  HANDLE handle_;
};

// Files::OpenLogFile: no link at the name is followed, and the file is
// emptied only once it is known to be a plain disk file.
std::unique_ptr<std::streambuf> OpenLocalLogFile(const std::string& path) {
  // A folder that is a link (a junction, a symbolic link) is not written
  // through either.
  const std::size_t cut = path.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0) {
    const DWORD folder = ::GetFileAttributesA(path.substr(0, cut).c_str());
    if (folder == INVALID_FILE_ATTRIBUTES || (folder & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return nullptr;
  }
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, never what it points
  // at; OPEN_ALWAYS does not empty the file yet.
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // Only a plain disk file with one name: no pipe or device, no link, no
  // second name of some other file.
  BY_HANDLE_FILE_INFORMATION info{};
  const bool plain = ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info) &&
                     (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
                     info.nNumberOfLinks == 1;
  if (!plain || !::SetEndOfFile(handle)) {
    ::CloseHandle(handle);
    return nullptr;
  }
  return std::unique_ptr<std::streambuf>(new HandleBuffer(handle));
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
    return OpenLocalLogFile(path);
  }

  ErrorCode ListFileIds(const std::string& dir, std::vector<FileIdEntry>& entries) override {
    entries.clear();
    const HANDLE folder = ::CreateFileA(dir.c_str(), FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return static_cast<ErrorCode>(::GetLastError());
    // 64 KiB, the most an SMB server returns for one query.
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;
    DWORD result = ERROR_SUCCESS;
    while (::GetFileInformationByHandleEx(folder, query, buffer.data(), size)) {
      query = FileIdBothDirectoryInfo;
      const char* at = reinterpret_cast<const char*>(buffer.data());
      for (;;) {
        const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
        FileIdEntry entry;
        entry.attributes = static_cast<std::uint32_t>(info->FileAttributes);
        // For a reparse point the EA size field holds its tag.
        if ((info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) entry.reparseTag = info->EaSize;
        entry.fileId = static_cast<std::uint64_t>(info->FileId.QuadPart);
        const int length = static_cast<int>(info->FileNameLength / sizeof(WCHAR));
        const int bytes = ::WideCharToMultiByte(CP_ACP, 0, info->FileName, length, nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
          entry.name.resize(static_cast<std::size_t>(bytes));
          ::WideCharToMultiByte(CP_ACP, 0, info->FileName, length, &entry.name[0], bytes, nullptr, nullptr);
        }
        entries.push_back(std::move(entry));
        if (info->NextEntryOffset == 0) break;
        at += info->NextEntryOffset;
      }
    }
    const DWORD end = ::GetLastError();
    if (end != ERROR_NO_MORE_FILES) result = end;
    ::CloseHandle(folder);
    ::SetLastError(result);
    return static_cast<ErrorCode>(result);
  }

  ErrorCode LastError() override { return static_cast<ErrorCode>(::GetLastError()); }
};

}  // namespace

Files& RealFiles() {
  static WinFiles instance;
  return instance;
}

}  // namespace platform
