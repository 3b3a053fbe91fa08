// Conversion of a label to UTF-8 from the code page the program's texts are
// in (the ANSI code page on Windows, the locale's character set on Linux),
// and the ASCII case of names.
#pragma once

#include <algorithm>
#include <string>

namespace platform {

class Text {
 public:
  virtual ~Text() = default;

  // On Windows MultiByteToWideChar(CP_ACP) then WideCharToMultiByte(CP_UTF8).
  // Returns an empty text when the conversion fails.
  virtual std::string OemToUtf8(const std::string& text) = 0;
};

// ASCII case, as Windows compares names; every other byte stays as it is.
inline char ToLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
inline bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ToLowerAscii(x) == ToLowerAscii(y); });
}

}  // namespace platform
