// Linux implementation of the text concern. The "OEM code page" of a Linux
// process is the character set of its LC_CTYPE locale, as the environment
// sets it (LC_ALL, then LC_CTYPE, then LANG). The C/POSIX locale, and a
// locale that is not installed, count as UTF-8: names on Linux are UTF-8 in
// practice and plain ASCII is a part of it.
//
// The result is always valid UTF-8: every byte sequence that is not valid in
// the source character set becomes U+FFFD and the conversion goes on. The
// text ends at its first zero byte, as a C string does. The process's own
// locale is never changed.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/posix/net_remote_name.h"
#include "platform/text.h"

namespace platform {
namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool IsUtf8Name(const std::string& codeset) {
  return posix::EqualsIgnoreCase(codeset, "UTF-8") || posix::EqualsIgnoreCase(codeset, "UTF8");
}

bool IsAsciiName(const std::string& codeset) {
  return codeset.empty() || codeset == "ANSI_X3.4-1968" || posix::EqualsIgnoreCase(codeset, "ASCII") ||
         posix::EqualsIgnoreCase(codeset, "US-ASCII");
}

// Copies valid UTF-8 and puts U+FFFD in place of each maximal ill-formed
// subpart (the Unicode recommendation): overlong forms, surrogates, code
// points above U+10FFFF, stray continuation bytes and cut-off sequences.
std::string SanitiseUtf8(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  const std::size_t n = in.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    }
    if (length == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    std::size_t good = 1;
    while (good < length && i + good < n) {
      const unsigned char next = static_cast<unsigned char>(in[i + good]);
      const unsigned char lo = good == 1 ? low : 0x80;
      const unsigned char hi = good == 1 ? high : 0xBF;
      if (next < lo || next > hi) break;
      ++good;
    }
    if (good == length) {
      out.append(in, i, length);
    } else {
      out += kReplacement;
    }
    i += good;
  }
  return out;
}

std::string ConvertWithIconv(const std::string& in, const std::string& codeset) {
  iconv_t cd = ::iconv_open("UTF-8", codeset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // A character set iconv does not know: keep what is valid UTF-8.
    return SanitiseUtf8(in);
  }
  std::string out;
  out.reserve(in.size() * 2);
  char* source = const_cast<char*>(in.data());
  std::size_t sourceLeft = in.size();
  char chunk[512];
  for (;;) {
    char* target = chunk;
    std::size_t targetLeft = sizeof chunk;
    const std::size_t rc = ::iconv(cd, sourceLeft ? &source : nullptr, &sourceLeft, &target, &targetLeft);
    const int error = errno;
    out.append(chunk, static_cast<std::size_t>(target - chunk));
    if (rc != static_cast<std::size_t>(-1)) {
      if (sourceLeft == 0) break;
      continue;
    }
    if (error == E2BIG) continue;
    // An invalid sequence (EILSEQ) or one cut off at the end (EINVAL): one
    // replacement for its first byte, then on from the next.
    out += kReplacement;
    if (error == EILSEQ && sourceLeft > 0) {
      ++source;
      --sourceLeft;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (sourceLeft > 0) continue;
    }
    break;
  }
  ::iconv_close(cd);
  // iconv's output is UTF-8 already; the check costs little and is certain.
  return SanitiseUtf8(out);
}

class LocaleText : public Text {
 public:
  std::string OemToUtf8(const std::string& text) override {
    const std::string input = text.substr(0, text.find('\0'));
    const std::string& codeset = Codeset();
    if (IsUtf8Name(codeset)) return SanitiseUtf8(input);
    return ConvertWithIconv(input, codeset);
  }

 private:
  // The environment's LC_CTYPE character set, looked up again when the
  // variables that choose it change.
  const std::string& Codeset() {
    std::string key;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG", "LOCPATH"}) {
      const char* value = std::getenv(name);
      key += value != nullptr ? value : "";
      key += '\n';
    }
    if (key != key_ || codeset_.empty()) {
      key_ = key;
      codeset_ = Lookup();
    }
    return codeset_;
  }

  // The LC_CTYPE locale name the environment chooses, as glibc picks it.
  static std::string CtypeName() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
      const char* value = std::getenv(name);
      if (value != nullptr && value[0] != '\0') return value;
    }
    return std::string();
  }

  // True when the name's character set part (after the '.', before any
  // '@') is UTF-8 spelled in any of glibc's ways ("UTF-8", "utf8", ...).
  static bool NamesUtf8(const std::string& locale) {
    const std::size_t dot = locale.find('.');
    if (dot == std::string::npos) return false;
    std::string codeset;
    for (std::size_t i = dot + 1; i < locale.size() && locale[i] != '@'; ++i) {
      const char c = locale[i];
      if (c >= 'A' && c <= 'Z') {
        codeset += static_cast<char>(c - 'A' + 'a');
      } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
        codeset += c;
      }
    }
    return codeset == "utf8";
  }

  static std::string Lookup() {
    // The usual answers without loading the locale, which costs a run that
    // prints JSON more than the conversions do: the built-in C and POSIX
    // locales count as UTF-8, and so does a system locale named for UTF-8,
    // installed or not. (A LOCPATH folder may hold anything under any name;
    // its locales are always looked at.)
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

  std::string key_;
  std::string codeset_;
};

}  // namespace

Text& RealText() {
  static LocaleText instance;
  return instance;
}

}  // namespace platform
