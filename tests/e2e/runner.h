// Runs the real sharemapper binary in a private working directory with a
// private key store and connection table, and collects what it printed.
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

// The exit status 20000 as a POSIX parent receives it (the low 8 bits).
constexpr int kFailureStatus = 20000 & 0xFF;

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
std::vector<std::string> Lines(const std::string& text);

}  // namespace e2e
