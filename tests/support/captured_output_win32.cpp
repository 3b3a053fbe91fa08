#include <windows.h>

#include "support/captured_output.h"

namespace testkit {

namespace {
HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
}  // namespace

CapturedOutput::CapturedOutput(Kind kind) {
  saved_ = reinterpret_cast<std::intptr_t>(::GetStdHandle(STD_OUTPUT_HANDLE));
  if (kind == Kind::kClosed) {
    ::SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    return;
  }
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!::CreatePipe(&read, &write, nullptr, 1 << 16)) return;
  ::SetStdHandle(STD_OUTPUT_HANDLE, write);
  read_ = reinterpret_cast<std::intptr_t>(read);
}

CapturedOutput::~CapturedOutput() { Take(); }

std::string CapturedOutput::Take() {
  std::string out;
  if (taken_) return out;
  taken_ = true;
  const HANDLE write = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::SetStdHandle(STD_OUTPUT_HANDLE, AsHandle(saved_));
  if (read_ < 0) return out;
  // With its only writer closed, the pipe ends after what it holds.
  ::CloseHandle(write);
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(AsHandle(read_), buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  ::CloseHandle(AsHandle(read_));
  return out;
}

}  // namespace testkit
