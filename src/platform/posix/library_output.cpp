#include "platform/posix/library_output.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <string>

namespace platform {
namespace posix {
namespace {

// What is kept of one guard's capture for the logger.
constexpr std::size_t kMaxLogged = 64 * 1024;

}  // namespace

// Numbered 3 or above so that it never takes the place of a closed 1 or 2.
int OpenLibraryCapture() {
  int fd = ::memfd_create("libsmbclient-output", MFD_CLOEXEC);
  if (fd < 0) fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (fd < 0 || fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

namespace {

void Restore(int saved, int target) {
  if (saved < 0) {
    ::close(target);  // it was closed before
    return;
  }
  while (::dup2(saved, target) < 0 && errno == EINTR) {
  }
  ::close(saved);
}

}  // namespace

LibraryOutput::LibraryOutput(log4cxx::LoggerPtr logger, int capture)
    : logger_(std::move(logger)), capture_(capture), owned_(capture < 0) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (owned_) capture_ = OpenLibraryCapture();
  if (capture_ < 0) return;  // no descriptor left: nothing can be moved
  savedOut_ = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  savedErr_ = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
  ::dup2(capture_, 1);
  ::dup2(capture_, 2);
}

LibraryOutput::~LibraryOutput() {
  if (capture_ < 0) return;
  const int callerErrno = errno;  // what the library call left, for the caller
  std::fflush(stdout);
  std::fflush(stderr);
  Restore(savedOut_, 1);
  Restore(savedErr_, 2);
  std::string text;
  char buffer[4096];
  // Mostly nothing was printed: one look at the offset tells.
  for (bool more = ::lseek(capture_, 0, SEEK_CUR) > 0 && ::lseek(capture_, 0, SEEK_SET) == 0;
       more && text.size() < kMaxLogged;) {
    const ssize_t n = ::read(capture_, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    more = n > 0 || (n < 0 && errno == EINTR);
  }
  if (owned_) {
    ::close(capture_);
  } else if (!text.empty() && ::ftruncate(capture_, 0) == 0) {
    ::lseek(capture_, 0, SEEK_SET);
  }
  std::istringstream lines(text);
  std::string line;
  while (logger_->isDebugEnabled() && std::getline(lines, line)) {
    if (!line.empty()) LOG4CXX_DEBUG(logger_, "libsmbclient printed: " << line);
  }
  errno = callerErrno;
}

}  // namespace posix
}  // namespace platform
