// Windows implementation of the files concern.
#include <io.h>

#include <cerrno>

#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/log_buffer.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// The result of a call that returned `ok`, with the thread's last error.
ErrorCode Result(BOOL ok) { return ok ? err::kSuccess : static_cast<ErrorCode>(::GetLastError()); }

// What a server answers to an information class it does not know.
bool IsUnknownQuery(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_LEVEL ||
         error == ERROR_INVALID_FUNCTION;
}

// The entries of `dir` through FindFirstFileA, without ids.
ErrorCode ListByName(const std::string& dir, std::vector<FileIdEntry>& entries) {
  const std::string pattern = dir + (!dir.empty() && dir.back() == '\\' ? "*.*" : "\\*.*");
  WIN32_FIND_DATAA found{};
  const HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return static_cast<ErrorCode>(::GetLastError());
  do {
    FileIdEntry entry;
    entry.attributes = static_cast<std::uint32_t>(found.dwFileAttributes);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) entry.reparseTag = found.dwReserved0;
    entry.name = found.cFileName;
    entries.push_back(std::move(entry));
  } while (::FindNextFileA(search, &found));
  const DWORD end = ::GetLastError();
  ::FindClose(search);
  if (end == ERROR_NO_MORE_FILES) return err::kSuccess;
  entries.clear();
  return static_cast<ErrorCode>(end);
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
  ErrorCode Access(const std::string& path, int mode) override {
    // The C runtime knows only the existence (0), write (2) and read (4)
    // bits; any other mode makes its parameter check end the process, so
    // the remaining bits are dropped rather than passed on.
    if (::_access(path.c_str(), mode & 6) == 0) return err::kSuccess;
    return errno == EACCES ? err::kAccessDenied : err::kFileNotFound;
  }

  ErrorCode MakeDirectory(const std::string& path) override {
    return Result(::CreateDirectoryA(path.c_str(), nullptr));
  }

  ErrorCode SetAttributes(const std::string& path, std::uint32_t attributes) override {
    return Result(::SetFileAttributesA(path.c_str(), static_cast<DWORD>(attributes)));
  }

  ErrorCode RemoveFile(const std::string& path) override { return Result(::DeleteFileA(path.c_str())); }

  ErrorCode RemoveDir(const std::string& path) override { return Result(::RemoveDirectoryA(path.c_str())); }

  // The redirector keeps several requests to one server in flight.
  unsigned Overlap() override { return 8; }

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
    ::CloseHandle(folder);
    if (end == ERROR_NO_MORE_FILES) return err::kSuccess;
    entries.clear();
    // A server without the id query: the names alone.
    if (query == FileIdBothDirectoryRestartInfo && IsUnknownQuery(end)) return ListByName(dir, entries);
    return static_cast<ErrorCode>(end);
  }
};

}  // namespace

Files& RealFiles() {
  static WinFiles instance;
  return instance;
}

}  // namespace platform
