// Linux implementation of the console concern: a terminal takes the bytes as
// they are (its character set is the locale's, the same as the program's
// texts), so every output gets them unchanged on descriptor 1.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/posix/errno_map.h"

namespace platform {
namespace {

class PosixConsole : public Console {
 public:
  ErrorCode WriteOutput(const std::string& text, Encoding /*encoding*/) override {
    // Anything a library put out through stdio comes first.
    std::fflush(stdout);
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(1, text.data() + done, text.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno == EPIPE ? err::kNoData : posix::ErrnoToWindows(errno);
      }
      done += static_cast<std::size_t>(n);
    }
    return err::kSuccess;
  }
};

}  // namespace

Console& RealConsole() {
  static PosixConsole instance;
  return instance;
}

}  // namespace platform
