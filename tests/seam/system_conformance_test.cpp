// What the portable code relies on from the system concern, checked against
// the fake the unit tests use and this build's real layer: the drive mask
// names letters only, the log's time stamp is a date, the working directory
// ends in a separator for the log's folder to follow, and the process token
// the registry helpers ask for opens.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "support/fakes.h"
#include "support/seam.h"

namespace {

struct FakeLayer {
  static constexpr const char* kName = "Fake";
  platform::System& system() { return fake; }
  fakes::FakeSystem fake;
};

struct RealLayer {
  static constexpr const char* kName = "Real";
  RealLayer() { seam::UseSandbox(); }
  platform::System& system() { return platform::system(); }
};

template <typename Layer>
class SystemConformance : public ::testing::Test {
 protected:
  Layer layer_;
};

using Layers = ::testing::Types<FakeLayer, RealLayer>;
TYPED_TEST_SUITE(SystemConformance, Layers, seam::LayerNames);

TYPED_TEST(SystemConformance, LogicalDrivesNameNothingBeyondZ) {
  EXPECT_EQ(this->layer_.system().LogicalDrives() & ~0x3FFFFFFu, 0u);
}

TYPED_TEST(SystemConformance, LocalTimeIsPlausible) {
  const platform::LocalTime now = this->layer_.system().LocalTimeNow();
  EXPECT_TRUE(now.year >= 2024 && now.year < 2200);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour < 24 && now.minute < 60 && now.second < 60 && now.milliseconds < 1000);
}

TYPED_TEST(SystemConformance, WorkingDirectoryEndsInOneSeparator) {
  std::string cwd;
  ASSERT_TRUE(this->layer_.system().CurrentDirectory(cwd));
  ASSERT_GE(cwd.size(), 2u);
  const std::string separators = "/\\";
  EXPECT_NE(separators.find(cwd.back()), std::string::npos) << cwd;
  EXPECT_EQ(separators.find(cwd[cwd.size() - 2]), std::string::npos) << cwd;
}

TYPED_TEST(SystemConformance, TheProcessTokenOpens) {
  platform::System& system = this->layer_.system();
  platform::TokenHandle token = 0;
  ASSERT_TRUE(system.OpenProcessToken(platform::token::kAdjustPrivileges | platform::token::kQuery, token));
  EXPECT_NE(token, 0u);
  system.CloseToken(token);
}

}  // namespace
