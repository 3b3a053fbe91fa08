// Linux implementation of the text concern: the "OEM code page" is the
// character set of the environment's LC_CTYPE locale, the C locale and one
// not installed counting as UTF-8. The result is always valid UTF-8 (see
// README); the process's own locale is never changed.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/text.h"

namespace platform {
namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool IsUtf8Name(const std::string& codeset) {
  return EqualsIgnoreCase(codeset, "UTF-8") || EqualsIgnoreCase(codeset, "UTF8");
}

bool IsAsciiName(const std::string& codeset) {
  return codeset.empty() || codeset == "ANSI_X3.4-1968" || EqualsIgnoreCase(codeset, "ASCII") ||
         EqualsIgnoreCase(codeset, "US-ASCII");
}

// Copies valid UTF-8 and puts U+FFFD in place of each maximal ill-formed
// subpart (the Unicode recommendation): overlong forms, surrogates, code
// points above U+10FFFF, stray continuation bytes and cut-off sequences.
std::string SanitiseUtf8(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size();) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    // The sequence's length (0: no lead byte) and the range of its second byte.
    const std::size_t length = c < 0x80                ? 1
                               : c >= 0xC2 && c <= 0xDF ? 2
                               : c >= 0xE0 && c <= 0xEF ? 3
                               : c >= 0xF0 && c <= 0xF4 ? 4
                                                        : 0;
    const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    std::size_t good = 1;
    while (good < length && i + good < in.size()) {
      const unsigned char next = static_cast<unsigned char>(in[i + good]);
      if (next < (good == 1 ? low : 0x80) || next > (good == 1 ? high : 0xBF)) break;
      ++good;
    }
    if (length != 0 && good == length) {
      out.append(in, i, length);
    } else {
      out += kReplacement;
    }
    i += good;
  }
  return out;
}

// iconv's UTF-8 is valid as it comes: only text that was not converted
// needs cleaning.
std::string ConvertWithIconv(const std::string& in, const std::string& codeset) {
  iconv_t cd = ::iconv_open("UTF-8", codeset.c_str());
  // A character set iconv does not know: keep what is valid UTF-8.
  if (cd == reinterpret_cast<iconv_t>(-1)) return SanitiseUtf8(in);
  std::string out;
  out.reserve(in.size() * 2);
  char* source = const_cast<char*>(in.data());
  std::size_t sourceLeft = in.size();
  char chunk[512];
  for (;;) {
    char* target = chunk;
    std::size_t targetLeft = sizeof chunk;
    const bool failed = ::iconv(cd, &source, &sourceLeft, &target, &targetLeft) == static_cast<std::size_t>(-1);
    const int error = errno;
    out.append(chunk, static_cast<std::size_t>(target - chunk));
    if (failed && error == E2BIG) continue;
    if (!failed) break;
    // An invalid sequence (EILSEQ) or one cut off at the end (EINVAL): one
    // replacement for its first byte, then on from the next.
    out += kReplacement;
    if (error != EILSEQ) break;
    ++source;
    --sourceLeft;
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  ::iconv_close(cd);
  return out;
}

// The LC_CTYPE locale name the environment chooses, as glibc picks it.
std::string CtypeName() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return std::string();
}

// True when the name's character set part (after the '.', before any '@')
// is UTF-8 spelled in any of glibc's ways ("UTF-8", "utf8", ...).
bool NamesUtf8(const std::string& locale) {
  const std::size_t dot = locale.find('.');
  if (dot == std::string::npos) return false;
  std::string codeset;
  for (std::size_t i = dot + 1; i < locale.size() && locale[i] != '@'; ++i) {
    const char c = ToLowerAscii(locale[i]);
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) codeset += c;
  }
  return codeset == "utf8";
}

// The environment's LC_CTYPE character set. The usual answers come without
// loading the locale, which costs more than the conversions (see README); a
// LOCPATH locale is always looked at.
std::string Codeset() {
  const std::string chosen = CtypeName();
  if (chosen.empty() || chosen == "C" || chosen == "POSIX") return "UTF-8";
  const char* locpath = std::getenv("LOCPATH");
  if ((locpath == nullptr || locpath[0] == '\0') && NamesUtf8(chosen)) return "UTF-8";
  locale_t locale = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return "UTF-8";
  const char* name = ::nl_langinfo_l(CODESET, locale);
  std::string codeset = name != nullptr ? name : "";
  ::freelocale(locale);
  return IsAsciiName(codeset) ? "UTF-8" : codeset;
}

class LocaleText : public Text {
 public:
  std::string OemToUtf8(const std::string& text) override {
    const std::string input = text.substr(0, text.find('\0'));
    const std::string codeset = Codeset();
    return IsUtf8Name(codeset) ? SanitiseUtf8(input) : ConvertWithIconv(input, codeset);
  }
};

}  // namespace

Text& RealText() {
  static LocaleText instance;
  return instance;
}

}  // namespace platform
