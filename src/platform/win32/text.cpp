// Windows implementation of the text concern: the process's ANSI code page
// to UTF-8 through UTF-16, the way the system converts it. A narrow-character
// program receives its arguments, and reads registry strings through the A
// functions, in the ANSI code page (CP_ACP); reading them as the OEM page
// would turn every character above 127 into another one (a label "Caf\xE9"
// of page 1252 would come back as "Caf\u0398" of page 437).
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

class WinText : public Text {
 public:
  std::string OemToUtf8(const std::string& text) override {
    // The source is read up to its first zero byte (length -1), so both
    // counts below include the terminator.
    const int wideCount = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (wideCount <= 0) return std::string();
    std::vector<wchar_t> wide(static_cast<std::size_t>(wideCount) + 1, L'\0');
    if (::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), wideCount) <= 0) {
      return std::string();
    }

    const int byteCount =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (byteCount <= 0) return std::string();
    std::vector<char> utf8(static_cast<std::size_t>(byteCount) + 1, '\0');
    if (::WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, utf8.data(), byteCount, nullptr,
                              nullptr) <= 0) {
      return std::string();
    }
    return std::string(utf8.data());
  }
};

}  // namespace

Text& RealText() {
  static WinText instance;
  return instance;
}

}  // namespace platform
