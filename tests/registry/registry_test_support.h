// Shared pieces of the registry tests.
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
  std::string level, text, file, className, method;
  int line = 0;
};

// Collects what one logger emits, at every level, while it lives.
class Capture {
 public:
  explicit Capture(const char* logger = "DARezize");
  ~Capture();
  const std::vector<Message>& messages() const;
  void Clear();
  bool HasError(const std::string& prefix) const;

 private:
  class Appender;
  log4cxx::LoggerPtr logger_;
  std::shared_ptr<Appender> appender_;
  log4cxx::LevelPtr previousLevel_;
};

// Points XDG_CONFIG_HOME at a fresh temporary folder and makes the key
// store find it there; removes it all afterwards.
class TempStore {
 public:
  TempStore();
  ~TempStore();
  fs::path base, config, file;
};

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);

struct RunResult {
  int status = -1;
  std::string out, err;
};
// Runs a program in `directory`, `env` added to this process's environment.
RunResult Run(const std::string& program, const std::vector<std::string>& args, const fs::path& directory,
              const std::map<std::string, std::string>& env = {});

}  // namespace regtest
