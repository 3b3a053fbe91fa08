// Helpers for the tests of the network, files and text layers: temporary
// folders, environment variables set for one scope, and a private runtime
// folder (and so a private connection table) for every test.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/drives.h"

namespace nettest {

// A fresh folder, removed with everything in it at the end of the scope.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "/tmp") {
    std::string pattern = parent + "/sm-net-XXXXXX";
    if (::mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code error;
    // Folders made read-only by a test would stop the removal.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_directory(error) && !it->is_symlink(error)) ::chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(path_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or, with nullptr, removes) an environment variable until the end of
// the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = std::string(old);
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

inline unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Every test gets its own runtime folder, so its connection table starts
// empty and is gone afterwards; sessions of earlier tests are dropped.
class PrivateTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(runtime_.path().empty());
    ::chmod(runtime_.path().c_str(), 0700);
    xdg_.emplace("XDG_RUNTIME_DIR", runtime_.path().c_str());
    platform::posix::UserDrives().CloseTableForTests();
    platform::posix::UserDrives().DetachAll();
  }
  void TearDown() override {
    platform::posix::UserDrives().DetachAll();
    platform::posix::UserDrives().CloseTableForTests();
    xdg_.reset();
  }

  std::string TableFolder() const { return runtime_.path() + "/sharemapper"; }

  TempDir runtime_;
  std::optional<ScopedEnv> xdg_;
};

}  // namespace nettest
