// This process's standard output taken over for a while: into a pipe, whose
// bytes Take() hands back, or closed. Standard output is descriptor 1 on
// POSIX and the STD_OUTPUT_HANDLE on Windows, where the C runtime's stdout
// (and so the test framework's messages) stays where it was.
#pragma once

#include <cstdint>
#include <string>

namespace testkit {

class CapturedOutput {
 public:
  enum class Kind { kPipe, kClosed };
  explicit CapturedOutput(Kind kind = Kind::kPipe);
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  // Puts standard output back and returns what arrived meanwhile (nothing
  // when it was closed). Only the first call takes.
  std::string Take();

 private:
  std::intptr_t saved_ = -1;
  std::intptr_t read_ = -1;
  bool taken_ = false;
};

}  // namespace testkit
