// The tests of the network, files and text layers: a private runtime folder
// (and so a private connection table) for every test.
#pragma once

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/drives.h"
#include "support/runner.h"

namespace nettest {

// Every test gets its own runtime folder, so its connection table starts
// empty and is gone afterwards; sessions of earlier tests are dropped.
class PrivateTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(runtime_.path().empty());
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

  testkit::TempDir runtime_;
  std::optional<testkit::ScopedEnv> xdg_;
};

}  // namespace nettest
