// The console concern against the real system: a pipe gets the bytes as the
// C runtime's text mode wrote them (CR LF line ends, nothing converted), a
// console gets the characters, read from the ANSI code page or from UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "support/captured_output.h"

namespace {

using platform::Encoding;

TEST(Win32Console, PipeGetsTheBytesWithCrLf) {
  testkit::CapturedOutput capture;
  const platform::ErrorCode ansi = platform::console().WriteOutput("Caf\xE9\n", Encoding::kAnsi);
  const platform::ErrorCode utf8 = platform::console().WriteOutput("Caf\xC3\xA9\n", Encoding::kUtf8);
  const platform::ErrorCode lines = platform::console().WriteOutput("a\n\nb", Encoding::kAnsi);
  EXPECT_EQ(capture.Take(), "Caf\xE9\r\nCaf\xC3\xA9\r\na\r\n\r\nb");
  EXPECT_EQ(ansi, platform::err::kSuccess);
  EXPECT_EQ(utf8, platform::err::kSuccess);
  EXPECT_EQ(lines, platform::err::kSuccess);
}

// A screen buffer of its own, made standard output for the life of the
// object; invalid when this process can have no console.
class ScreenBuffer {
 public:
  ScreenBuffer() {
    handle_ = Create();
    if (handle_ == INVALID_HANDLE_VALUE && ::AllocConsole()) handle_ = Create();
    DWORD mode = 0;
    if (handle_ != INVALID_HANDLE_VALUE && !::GetConsoleMode(handle_, &mode)) {
      ::CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
    if (handle_ != INVALID_HANDLE_VALUE) ::SetStdHandle(STD_OUTPUT_HANDLE, handle_);
  }
  ~ScreenBuffer() {
    ::SetStdHandle(STD_OUTPUT_HANDLE, saved_);
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  ScreenBuffer(const ScreenBuffer&) = delete;
  ScreenBuffer& operator=(const ScreenBuffer&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

  // The first `count` characters of a row.
  std::wstring Row(SHORT row, DWORD count) const {
    std::wstring text(count, L'\0');
    DWORD got = 0;
    if (!::ReadConsoleOutputCharacterW(handle_, &text[0], count, COORD{0, row}, &got)) return std::wstring();
    text.resize(got);
    return text;
  }

 private:
  static HANDLE Create() {
    return ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       CONSOLE_TEXTMODE_BUFFER, nullptr);
  }
  HANDLE saved_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The characters of an ANSI text on this system.
std::wstring FromAnsi(const std::string& text) {
  wchar_t wide[64] = {};
  const int units = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide, 64);
  return std::wstring(wide, units > 0 ? static_cast<std::size_t>(units) : 0);
}

TEST(Win32Console, ConsoleShowsTheCharactersOfEitherEncoding) {
  ScreenBuffer console;
  if (!console.valid()) {
    // Wine with no display gives a program no console of its own; there the
    // end-to-end test on a terminal (wine.console.pty) shows the conversion.
    GTEST_SKIP() << "no console screen buffer can be made here";
  }
  const platform::ErrorCode ansi = platform::console().WriteOutput("Caf\xE9\n", Encoding::kAnsi);
  const platform::ErrorCode utf8 = platform::console().WriteOutput("Caf\xC3\xA9 \xE2\x82\xAC\n", Encoding::kUtf8);
  EXPECT_EQ(ansi, platform::err::kSuccess);
  EXPECT_EQ(utf8, platform::err::kSuccess);
  EXPECT_EQ(console.Row(0, 4), FromAnsi("Caf\xE9"));
  EXPECT_EQ(console.Row(1, 6), L"Caf\u00E9 \u20AC");
}

}  // namespace
