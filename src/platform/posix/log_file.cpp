#include "platform/posix/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace posix {
namespace {

// Writes to a descriptor it owns. Each flush goes out at once; after a
// failed write (a full disk) it takes nothing more, so the stream above it
// goes bad and later lines are lost.
class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
  ~DescriptorBuffer() override {
    Drain();
    ::close(fd_);
  }
  DescriptorBuffer(const DescriptorBuffer&) = delete;
  DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

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
    const char* next = pbase();
    const char* end = pptr();
    while (!failed_ && next < end) {
      const ssize_t written = ::write(fd_, next, static_cast<std::size_t>(end - next));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        failed_ = true;
      } else {
        next += written;
      }
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return !failed_;
  }

  int fd_;
  bool failed_ = false;
  char buffer_[1024];
};

// Closes the descriptor unless it was handed on.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::unique_ptr<std::streambuf> OpenLogFile(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) return nullptr;
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = path.substr(slash + 1);
  const uid_t me = ::geteuid();

  // The folder: no link, and the user's own, or someone else could put
  // anything at the file's name between two runs.
  Descriptor dir;
  dir.fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir.fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(dir.fd, &st) != 0 || st.st_uid != me) return nullptr;

  // The file: never through a link, never waiting for a FIFO's reader or a
  // device, and emptied only when it is a plain file of ours with no second
  // name (a hard link to a file of ours elsewhere would lose that file).
  Descriptor file;
  file.fd = ::openat(dir.fd, name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                     0666);
  if (file.fd < 0) return nullptr;
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != me || st.st_nlink != 1) return nullptr;
  if (::ftruncate(file.fd, 0) != 0) return nullptr;
  const int flags = ::fcntl(file.fd, F_GETFL);
  if (flags < 0 || ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;

  std::unique_ptr<std::streambuf> buffer(new DescriptorBuffer(file.fd));
  file.fd = -1;
  return buffer;
}

}  // namespace posix
}  // namespace platform
