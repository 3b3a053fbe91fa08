// Conversion of a label to UTF-8 from the code page the program's texts are
// in: the ANSI code page on Windows, the locale's character set on Linux.
#pragma once

#include <string>

namespace platform {

class Text {
 public:
  virtual ~Text() = default;

  // On Windows MultiByteToWideChar(CP_ACP) then WideCharToMultiByte(CP_UTF8).
  // Returns an empty text when the conversion fails.
  virtual std::string OemToUtf8(const std::string& text) = 0;
};

}  // namespace platform
