// Runs the real sharemapper binary in a private working directory with a
// private key store and connection table, and collects what it printed.
// runner.cpp starts it the POSIX way, runner_win32.cpp the Windows way.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

struct Run {
  std::string out;
  std::string err;
  int status = -1;  // exit status as the shell sees it
};

#ifdef _WIN32
// The exit status 20000 as a Windows parent receives it.
constexpr int kFailureStatus = 20000;
// The line end of the program's output and log.
constexpr char kEol[] = "\r\n";
#else
// The exit status 20000 as a POSIX parent receives it (the low 8 bits).
constexpr int kFailureStatus = 20000 & 0xFF;
constexpr char kEol[] = "\n";
#endif

// The text with every "\n" written as the platform's line end.
inline std::string Native(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += kEol;
    else out += c;
  }
  return out;
}

// The option parser's quotes around a name in its messages.
inline std::string Quoted(const std::string& name) {
#ifdef _WIN32
  return "'" + name + "'";
#else
  return "\xE2\x80\x98" + name + "\xE2\x80\x99";
#endif
}

// The program's name as the program itself sees it (help listings show it).
std::string BinaryName();

class Sandbox {
 public:
  // A fresh directory tree below the test temp dir: cwd/, config/, runtime/.
  explicit Sandbox(const std::string& name);
  ~Sandbox();

  Run Sharemapper(const std::vector<std::string>& args) const;
  Run Command(const std::string& program, const std::vector<std::string>& args) const;

  // Environment handed to every child (and set in this process, so that the
  // platform layer used directly by a test sees the same store and table).
  void Use() const;

  std::string root;
  std::string cwd;
  std::string config;
  std::string runtime;
  std::map<std::string, std::string> env;

  std::string AppLog() const;
};

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& content);
// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace e2e
