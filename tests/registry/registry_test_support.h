// Shared pieces of the registry tests: a private key store per test, a
// capture of log4cxx messages, and running the registry client.
#pragma once

#include <log4cxx/logger.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace regtest {

namespace fs = std::filesystem;

struct Message {
  std::string logger;
  std::string level;  // "DEBUG", "ERROR"...
  std::string text;
  std::string file;
  std::string className;
  std::string method;
  int line = 0;
};

// Collects what one logger emits (at every level) while it lives.
class Capture {
 public:
  explicit Capture(const char* logger = "DARezize");
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  const std::vector<Message>& messages() const;
  std::vector<std::string> Texts() const;
  // Whether an error with this text (a prefix of it) was emitted.
  bool HasError(const std::string& prefix) const;

 private:
  class Appender;
  log4cxx::LoggerPtr logger_;
  std::shared_ptr<Appender> appender_;
  log4cxx::LevelPtr previousLevel_;
};

// Points XDG_CONFIG_HOME at a fresh temporary folder for one test and makes
// the key store find it there; removes it all afterwards.
class TempStore {
 public:
  TempStore();
  ~TempStore();
  TempStore(const TempStore&) = delete;
  TempStore& operator=(const TempStore&) = delete;

  const fs::path& base() const { return base_; }        // a scratch folder of the test
  const fs::path& config() const { return config_; }    // XDG_CONFIG_HOME
  fs::path folder() const { return config_ / "sharemapper"; }
  fs::path file() const { return folder() / "registry.db"; }

 private:
  fs::path base_;
  fs::path config_;
};

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a program in `directory` with `env` added to this process's
// environment, and waits for it.
RunResult Run(const std::string& program, const std::vector<std::string>& args, const std::string& directory,
              const std::map<std::string, std::string>& env = {});

// Runs a tool of the system quietly; its exit status (-1 when it cannot run).
int RunTool(const std::string& program, const std::vector<std::string>& args);

}  // namespace regtest
