// A minimal assertion harness for the Windows layer test: every check prints
// one line, failures do not stop the run, and the totals decide the exit code.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

namespace check {

void Section(const char* name);
bool Record(bool ok, const char* expression, const char* file, int line,
            const std::string& detail);
int Passed();
int Failed();

// Printable form of a value for failure messages; bytes outside printable
// ASCII are shown as \xNN so encodings can be compared.
std::string Show(const std::string& text);
inline std::string Show(const char* text) { return Show(std::string(text)); }
template <typename T, typename = std::enable_if_t<std::is_integral<T>::value>>
std::string Show(T value) {
  if constexpr (std::is_signed<T>::value) {
    return std::to_string(static_cast<long long>(value));
  } else {
    return std::to_string(static_cast<unsigned long long>(value));
  }
}

template <typename A, typename B>
bool Equal(const A& actual, const B& expected, const char* expression, const char* file,
           int line) {
  const bool ok = actual == expected;
  return Record(ok, expression, file, line,
                ok ? std::string() : "got " + Show(actual) + ", expected " + Show(expected));
}

}  // namespace check

#define CHECK(condition) check::Record((condition), #condition, __FILE__, __LINE__, std::string())
#define CHECK_EQ(actual, expected) \
  check::Equal((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)
