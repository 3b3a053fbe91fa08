// What libsmbclient prints. Besides its debug messages (which go to our
// logger through its log callback) it writes notes straight to standard
// output and standard error, whatever its debug level says: "Unable to
// follow dfs referral", "Could not resolve ...", and, before any context
// exists, the debug lines a user's smb.conf asks for. Those streams belong
// to the program's result, so every call into the library runs with both
// descriptors pointed elsewhere.
#pragma once

#include "platform/posix/layer_log.h"

namespace platform {
namespace posix {

// While it lives, descriptors 1 and 2 lead to a private in-memory file; at
// its end they are put back as they were (a closed one closed again) and
// what was written there goes to `logger` at debug level, one message per
// line. Pending output of the C streams is flushed on both sides of that,
// so the program's own output keeps its place and the library's cannot
// follow it out later. Guards may nest; the program runs on one thread.
class LibraryOutput {
 public:
  explicit LibraryOutput(log4cxx::LoggerPtr logger);
  ~LibraryOutput();
  LibraryOutput(const LibraryOutput&) = delete;
  LibraryOutput& operator=(const LibraryOutput&) = delete;

 private:
  log4cxx::LoggerPtr logger_;
  int capture_ = -1;
  int savedOut_ = -1;
  int savedErr_ = -1;
};

}  // namespace posix
}  // namespace platform
