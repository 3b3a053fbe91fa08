// The text concern against the real system: labels arrive in the ANSI code
// page, as a narrow-character program receives its arguments and reads
// registry strings, and leave as UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace {

// The expected bytes below are those of code page 1252, the ANSI page of a
// Western European or US-English system (Wine picks it from the locale the
// test runner sets); on a system with another ANSI page the cases are skipped.
class Win32Text : public ::testing::Test {
 protected:
  void SetUp() override {
    const UINT page = ::GetACP();
    if (page != 1252) GTEST_SKIP() << "the cases are of code page 1252; this system's ANSI page is " << page;
  }
};

struct Conversion {
  const char* ansi;
  const char* utf8;
};

TEST_F(Win32Text, AnsiBytesBecomeUtf8) {
  const Conversion cases[] = {
      {"\xE9", "\xC3\xA9"},                     // e acute
      {"\xDF", "\xC3\x9F"},                     // sharp s
      {"\x80", "\xE2\x82\xAC"},                 // euro sign
      {"Caf\xE9 \xDC", "Caf\xC3\xA9 \xC3\x9C"},  // not read as code page 437 (CafΘ)
  };
  for (const Conversion& c : cases) {
    EXPECT_EQ(platform::text().OemToUtf8(c.ansi), c.utf8) << c.ansi;
  }
}

// Every byte of the page has a character: no byte is lost or left as is.
TEST_F(Win32Text, EveryHighByteBecomesOneCharacter) {
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const std::string utf8 = platform::text().OemToUtf8(std::string(1, static_cast<char>(byte)));
    const bool lead = !utf8.empty() && (static_cast<unsigned char>(utf8[0]) & 0xC0) == 0xC0;
    EXPECT_TRUE(utf8.size() >= 2 && utf8.size() <= 3 && lead) << "byte " << byte;
  }
}

}  // namespace
