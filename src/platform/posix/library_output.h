// What libsmbclient prints straight to standard output and standard error
// (see README) is kept off the program's streams.
#pragma once

#include "log/diag_logger.h"

namespace platform {
namespace posix {

// A private in-memory file for LibraryOutput to reuse (numbered 3 or
// above), or -1; its owner closes it.
int OpenLibraryCapture();

// While it lives, descriptors 1 and 2 lead to a private in-memory file (the
// given `capture`, else one of its own); at its end they are put back (a
// closed one closed again), with the C streams flushed on both sides, and
// what was written goes to `logger` at debug level, one message per line,
// and leaves the file. Guards may nest; one thread only.
class LibraryOutput {
 public:
  explicit LibraryOutput(log4cxx::LoggerPtr logger, int capture = -1);
  ~LibraryOutput();
  LibraryOutput(const LibraryOutput&) = delete;
  LibraryOutput& operator=(const LibraryOutput&) = delete;

 private:
  log4cxx::LoggerPtr logger_;
  int capture_ = -1;
  bool owned_ = false;  // capture_ is this guard's own
  int savedOut_ = -1;
  int savedErr_ = -1;
};

}  // namespace posix
}  // namespace platform
