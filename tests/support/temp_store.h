// The registry tests' key store: a sandbox whose store this process uses,
// fresh and empty, and found again afresh once the sandbox ends.
#pragma once

#include <filesystem>
#include <string>

#include "platform/posix/registry.h"
#include "support/logger_capture.h"
#include "support/runner.h"

namespace regtest {

namespace fs = std::filesystem;

class TempStore : public testkit::Sandbox {
 public:
  TempStore() : Sandbox("store"), file(fs::path(config) / "sharemapper" / "registry.db") {
    Use();
    platform::posix::ResetKeyStore();
  }
  ~TempStore() { platform::posix::ResetKeyStore(); }
  const fs::path file;
};

}  // namespace regtest
