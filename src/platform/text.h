// Conversion of text in the OEM code page to UTF-8.
#pragma once

#include <string>

namespace platform {

class Text {
 public:
  virtual ~Text() = default;

  // MultiByteToWideChar(CP_OEMCP) then WideCharToMultiByte(CP_UTF8). Returns
  // an empty text when the conversion fails.
  virtual std::string OemToUtf8(const std::string& text) = 0;
};

}  // namespace platform
