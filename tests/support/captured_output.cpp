#include "support/captured_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace testkit {

CapturedOutput::CapturedOutput(Kind kind) {
  std::fflush(stdout);
  saved_ = ::dup(1);
  if (kind == Kind::kClosed) {
    ::close(1);
    return;
  }
  int fds[2];
  if (::pipe(fds) != 0) return;
  ::dup2(fds[1], 1);
  ::close(fds[1]);
  read_ = fds[0];
}

CapturedOutput::~CapturedOutput() { Take(); }

std::string CapturedOutput::Take() {
  std::string out;
  if (taken_) return out;
  taken_ = true;
  std::fflush(stdout);
  // Descriptor 1 was the pipe's last writer: the reader sees its end.
  ::dup2(static_cast<int>(saved_), 1);
  ::close(static_cast<int>(saved_));
  if (read_ < 0) return out;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(read_), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(static_cast<int>(read_));
  return out;
}

}  // namespace testkit
