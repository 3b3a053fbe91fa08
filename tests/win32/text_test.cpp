#include <string>

#include "check.h"
#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "suite.h"

namespace suite {

void TextTests() {
  check::Section("Text");
  platform::Text& text = platform::text();

  // The expected bytes below are those of code page 437, the OEM page of a
  // US-English system; Wine picks it from the locale the harness sets.
  if (!CHECK_EQ(::GetOEMCP(), 437u)) return;

  CHECK_EQ(text.OemToUtf8(""), std::string());
  CHECK_EQ(text.OemToUtf8("Docs 2024"), std::string("Docs 2024"));
  CHECK_EQ(text.OemToUtf8("\x82"), std::string("\xC3\xA9"));             // e acute
  CHECK_EQ(text.OemToUtf8("\xE1"), std::string("\xC3\x9F"));             // sharp s
  CHECK_EQ(text.OemToUtf8("\xB0"), std::string("\xE2\x96\x91"));         // light shade
  CHECK_EQ(text.OemToUtf8("Caf\x82 \x9A"), std::string("Caf\xC3\xA9 \xC3\x9C"));
  // The text ends at its first zero byte.
  CHECK_EQ(text.OemToUtf8(std::string("ab\0cd", 5)), std::string("ab"));

  // Every byte of the page has a character: no byte is lost or left as is.
  bool allConverted = true;
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const std::string utf8 = text.OemToUtf8(std::string(1, static_cast<char>(byte)));
    const bool lead = !utf8.empty() && (static_cast<unsigned char>(utf8[0]) & 0xC0) == 0xC0;
    if (utf8.size() < 2 || utf8.size() > 3 || !lead) allConverted = false;
  }
  CHECK(allConverted);
}

}  // namespace suite
