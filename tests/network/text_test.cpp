// OEM text to UTF-8: the locale's character set decides, invalid input never
// yields invalid UTF-8, and the process's locale stays as it was.
#include <iconv.h>
#include <locale.h>
#include <sys/wait.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/private_table.h"
#include "platform/platform.h"

namespace {

const std::string kFffd = "\xEF\xBF\xBD";

std::string Convert(const std::string& text) { return platform::text().OemToUtf8(text); }

// Checked with iconv rather than with the code under test.
bool IsValidUtf8(const std::string& text) {
  iconv_t cd = ::iconv_open("UTF-32LE", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string copy = text;
  char* in = copy.data();
  std::size_t inLeft = copy.size();
  std::vector<char> out(copy.size() * 4 + 4);
  char* outp = out.data();
  std::size_t outLeft = out.size();
  const std::size_t rc = ::iconv(cd, &in, &inLeft, &outp, &outLeft);
  ::iconv_close(cd);
  return rc != static_cast<std::size_t>(-1) && inLeft == 0;
}

// Locales made for the test with localedef, in a folder of their own (the
// machine need not have them installed).
class Locales {
 public:
  static Locales& Get() {
    static Locales instance;
    return instance;
  }
  // The locale name, or empty when it could not be made.
  std::string Make(const std::string& charmap) {
    if (dir_.path().empty()) return "";
    const std::string name = "en_US." + charmap;
    const std::string command = "localedef -c -i en_US -f " + charmap + " '" + (dir_ / name) + "' >/dev/null 2>&1";
    if (!testkit::Exists(dir_ / name)) (void)std::system(command.c_str());
    return testkit::Exists(dir_ / name) ? name : "";
  }
  const std::string& path() const { return dir_.path(); }

 private:
  testkit::TempDir dir_;
};

class TextTest : public ::testing::Test {
 protected:
  void UseLocale(const char* name) {
    all_.emplace("LC_ALL", name);
  }
  testkit::ScopedEnv ctype_{"LC_CTYPE", nullptr};
  testkit::ScopedEnv lang_{"LANG", nullptr};
  std::optional<testkit::ScopedEnv> all_;
};

TEST_F(TextTest, Utf8LocaleKeepsValidTextAndReplacesInvalidBytes) {
  UseLocale("C.UTF-8");
  EXPECT_EQ("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x81", Convert("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x81"));
  EXPECT_EQ("a" + kFffd + "b", Convert("a\x80" "b"));                     // stray continuation
  EXPECT_EQ("caf" + kFffd, Convert("caf\xE9"));                           // Latin-1 byte
  EXPECT_EQ(kFffd + kFffd + "/", Convert("\xC0\xAF/"));                   // overlong '/'
  EXPECT_EQ(kFffd + kFffd + kFffd, Convert("\xED\xA0\x80"));              // surrogate
  EXPECT_EQ(kFffd + "x", Convert("\xE2\x82x"));                           // cut short
  EXPECT_EQ(kFffd + kFffd + kFffd + kFffd, Convert("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_EQ(kFffd, Convert("\xF5"));
}

TEST_F(TextTest, CAndPosixLocalesAreTakenAsUtf8) {
  for (const char* name : {"C", "POSIX", "xx_NOWHERE.ISO-8859-1"}) {
    UseLocale(name);
    EXPECT_EQ("caf\xC3\xA9", Convert("caf\xC3\xA9")) << name;
    EXPECT_EQ("caf" + kFffd, Convert("caf\xE9")) << name;
  }
  all_.reset();
  EXPECT_EQ("caf\xC3\xA9", Convert("caf\xC3\xA9"));  // nothing set at all
}

TEST_F(TextTest, SingleByteLocalesConvertEveryByte) {
  const std::string latin1 = Locales::Get().Make("ISO-8859-1");
  const std::string cp437 = Locales::Get().Make("IBM437");
  if (latin1.empty() || cp437.empty()) GTEST_SKIP() << "localedef cannot make the test locales here";
  testkit::ScopedEnv locpath("LOCPATH", Locales::Get().path().c_str());

  UseLocale(latin1.c_str());
  EXPECT_EQ("caf\xC3\xA9 \xC3\x9F", Convert("caf\xE9 \xDF"));
  UseLocale(cp437.c_str());
  EXPECT_EQ("caf\xC3\xA9 \xE2\x95\x94", Convert("caf\x82 \xC9"));  // é and ╔
}

TEST_F(TextTest, BytesWithoutACharacterBecomeReplacements) {
  const std::string cp1252 = Locales::Get().Make("CP1252");
  if (cp1252.empty()) GTEST_SKIP() << "localedef cannot make the test locale here";
  testkit::ScopedEnv locpath("LOCPATH", Locales::Get().path().c_str());
  UseLocale(cp1252.c_str());
  EXPECT_EQ("\xE2\x82\xAC" + kFffd + "x" + kFffd, Convert("\x80\x81x\x8D"));  // € then undefined bytes
}

TEST_F(TextTest, AnyInputGivesValidUtf8AndLeavesTheProcessLocale) {
  std::vector<std::string> locales = {"C.UTF-8", "C"};
  const std::string cp1252 = Locales::Get().Make("CP1252");
  if (!cp1252.empty()) locales.push_back(cp1252);
  testkit::ScopedEnv locpath("LOCPATH", Locales::Get().path().c_str());

  const std::string before = ::setlocale(LC_ALL, nullptr);
  std::mt19937 random(12345);
  for (const std::string& locale : locales) {
    UseLocale(locale.c_str());
    for (int round = 0; round < 300; ++round) {
      std::string input(static_cast<std::size_t>(random() % 24), '\0');
      for (char& c : input) c = static_cast<char>(1 + random() % 255);
      const std::string output = Convert(input);
      ASSERT_TRUE(IsValidUtf8(output)) << locale << " round " << round;
    }
  }
  EXPECT_EQ(before, ::setlocale(LC_ALL, nullptr));
}

}  // namespace
