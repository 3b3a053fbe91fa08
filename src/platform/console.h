// Standard output, where each run's one result goes. A console shows
// characters, so it is given the text as such; anything else (a pipe, a file)
// gets the bytes.
#pragma once

#include <string>

#include "platform/errors.h"

namespace platform {

// What the bytes of a result are: texts of the program (the ANSI code page on
// Windows), or UTF-8 (the JSON lines of the query).
enum class Encoding { kAnsi, kUtf8 };

class Console {
 public:
  virtual ~Console() = default;

  // Writes the text to standard output at once, "\n" as the platform's line
  // end. On Windows a console (GetConsoleMode succeeds on the handle) gets
  // the characters the text holds in its encoding, through WriteConsoleW;
  // a pipe or a file gets the bytes unchanged, in either encoding. Returns
  // the error number of a write that failed.
  virtual ErrorCode WriteOutput(const std::string& text, Encoding encoding) = 0;
};

}  // namespace platform
