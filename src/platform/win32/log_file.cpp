#include "platform/win32/log_file.h"

#include "platform/log_buffer.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace win32 {
namespace {

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

}  // namespace

std::unique_ptr<std::streambuf> OpenLogFile(const std::string& path) {
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

}  // namespace win32
}  // namespace platform
