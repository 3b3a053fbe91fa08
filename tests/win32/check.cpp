#include "check.h"

#include <cstdio>

namespace check {
namespace {
int g_passed = 0;
int g_failed = 0;

const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}
}  // namespace

void Section(const char* name) { std::printf("\n== %s\n", name); }

bool Record(bool ok, const char* expression, const char* file, int line,
            const std::string& detail) {
  if (ok) {
    ++g_passed;
    std::printf("  ok    %s:%d  %s\n", BaseName(file), line, expression);
  } else {
    ++g_failed;
    std::printf("  FAIL  %s:%d  %s%s%s\n", BaseName(file), line, expression,
                detail.empty() ? "" : "  -- ", detail.c_str());
  }
  std::fflush(stdout);
  return ok;
}

int Passed() { return g_passed; }
int Failed() { return g_failed; }

std::string Show(const std::string& text) {
  std::string out = "\"";
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out + "\"";
}

}  // namespace check
