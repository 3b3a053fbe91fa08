// The tests' toolkit: temporary folders, the sandbox (a private working
// directory, key store and connection table), the process runner and the
// file helpers. runner.cpp starts processes the POSIX way, runner_win32.cpp
// the Windows way; files.cpp is the same on both.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testkit {

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

// True when a Windows build runs under Wine rather than on Windows itself.
bool UnderWine();

// A fresh folder below the test temp dir, open to its owner only, removed
// with everything in it (read-only entries too) at the end of the scope.
class TempDir {
 public:
  explicit TempDir(const std::string& name = "tmp");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + kSeparator + name; }

#ifdef _WIN32
  static constexpr char kSeparator = '\\';
#else
  static constexpr char kSeparator = '/';
#endif

 private:
  std::string path_;
};

// Sets (or, with nullptr, removes) an environment variable of this process
// until the end of the scope.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

// The tests' one sandbox: a TempDir holding cwd/, config/ and runtime/, with
// the private XDG folders (and so a private key store and connection table)
// in `env`.
class Sandbox : public TempDir {
 public:
  explicit Sandbox(const std::string& name);

  // Runs a program (found on PATH when its name has no slash) in cwd, with
  // `env` added to this process's environment.
  Run Command(const std::string& program, const std::vector<std::string>& args) const;
  Run Sharemapper(const std::vector<std::string>& args) const;
  // The same in another working directory (so with an application log of
  // its own), with the sandbox's store and table.
  Run CommandIn(const std::string& dir, const std::string& program, const std::vector<std::string>& args) const;
  Run SharemapperIn(const std::string& dir, const std::vector<std::string>& args) const;

  // Sets `env` in this process too, until the sandbox ends, so that the
  // platform layer used directly by a test sees the same store and table.
  void Use();

  std::string root;
  std::string cwd;
  std::string config;
  std::string runtime;
  std::map<std::string, std::string> env;

  std::string AppLog() const;

 private:
  std::vector<std::unique_ptr<ScopedEnv>> used_;
};

// Runs `run` at the end of the scope: puts back what a test changed, however
// the test ends.
struct Cleanup {
  std::function<void()> run;
  ~Cleanup() {
    if (run) run();
  }
};

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& content);
// Whether an entry of that name exists (a dangling link too), and its mode
// bits (0 when there is none).
bool Exists(const std::string& path);
unsigned ModeOf(const std::string& path);
// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text);
// The number of entries in a folder, "." and ".." not counted.
std::size_t Entries(const std::string& folder);

#ifndef _WIN32
// The path of a program in the system's program folders, empty when none.
std::string FindTool(const std::string& name);
// Sets or clears the immutable attribute (chattr +i / -i), the only way to
// make a file or folder unwritable for root. False when that cannot be done.
bool SetImmutable(const std::string& path, bool on);
#endif

}  // namespace testkit
