// Windows implementation of the console concern. A console shows the bytes
// of a narrow write in its own output code page, the OEM page, where the
// program's texts are in the ANSI page and its JSON in UTF-8: a label "Caf\xE9"
// would show as "Caf\u0398". So a console gets the characters through
// WriteConsoleW. A pipe or a file gets the bytes, with the line ends the C
// runtime's text mode gives them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// Units per WriteConsoleW call: older consoles refuse one write of more than
// 64 KB.
constexpr std::size_t kConsoleChunk = 8192;

// Every "\n" as "\r\n", as the C runtime writes text-mode output.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

ErrorCode WriteBytes(HANDLE handle, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    if (!::WriteFile(handle, bytes.data() + done, size, &written, nullptr)) return ::GetLastError();
    done += written;
  }
  return err::kSuccess;
}

ErrorCode WriteCharacters(HANDLE console, const std::string& bytes, Encoding encoding) {
  if (bytes.empty()) return err::kSuccess;
  const UINT codePage = encoding == Encoding::kUtf8 ? CP_UTF8 : CP_ACP;
  const int size = static_cast<int>(bytes.size());
  const int units = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (units <= 0) return ::GetLastError();
  std::vector<wchar_t> wide(static_cast<std::size_t>(units));
  if (::MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), units) <= 0) return ::GetLastError();

  for (std::size_t done = 0; done < wide.size();) {
    std::size_t count = std::min(wide.size() - done, kConsoleChunk);
    // A surrogate pair stays in one piece.
    if (done + count < wide.size() && count > 1 && IS_HIGH_SURROGATE(wide[done + count - 1])) --count;
    DWORD written = 0;
    if (!::WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(count), &written, nullptr)) {
      return ::GetLastError();
    }
    if (written == 0) return err::kInvalidParameter;
    done += written;
  }
  return err::kSuccess;
}

class WinConsole : public Console {
 public:
  ErrorCode WriteOutput(const std::string& text, Encoding encoding) override {
    // Anything a library put out through the C runtime comes first.
    std::fflush(stdout);
    const HANDLE handle = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const std::string lines = WithCrLf(text);
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode)) return WriteCharacters(handle, lines, encoding);
    return WriteBytes(handle, lines);
  }
};

}  // namespace

Console& RealConsole() {
  static WinConsole instance;
  return instance;
}

}  // namespace platform
