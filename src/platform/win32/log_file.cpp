#include "platform/win32/log_file.h"

#include "platform/win32/windows_api.h"

namespace platform {
namespace win32 {
namespace {

// Writes to a file handle it owns, a newline as CR LF (the log is a text
// file). Each flush goes out at once; after a failed write (a full disk) it
// takes nothing more, so the stream above it goes bad and later lines are
// lost.
class HandleBuffer : public std::streambuf {
 public:
  explicit HandleBuffer(HANDLE handle) : handle_(handle) { setp(buffer_, buffer_ + sizeof buffer_); }
  ~HandleBuffer() override {
    Drain();
    ::CloseHandle(handle_);
  }
  HandleBuffer(const HandleBuffer&) = delete;
  HandleBuffer& operator=(const HandleBuffer&) = delete;

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  int sync() override { return Drain() ? 0 : -1; }

 private:
  bool Drain() {
    std::string text;
    for (const char* next = pbase(); next < pptr(); ++next) {
      if (*next == '\n') text += '\r';
      text += *next;
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    std::size_t done = 0;
    while (!failed_ && done < text.size()) {
      DWORD written = 0;
      const DWORD size = static_cast<DWORD>(text.size() - done);
      if (!::WriteFile(handle_, text.data() + done, size, &written, nullptr) || written == 0) {
        failed_ = true;
      } else {
        done += written;
      }
    }
    return !failed_;
  }

  HANDLE handle_;
  bool failed_ = false;
  char buffer_[1024];
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
