// The network concern and the volume name against the real system, without
// a server, in what only Windows shows (the seam suite checks the rest on
// every layer): what must fail fails, and leaves the letter free.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "support/runner.h"
#include "win32_support.h"

namespace {

namespace err = platform::err;
namespace net = platform::net;

// Under Wine the C: drive gets this label for the volume-name tests (a
// directory drive keeps it in C:\.windows-label); on Windows the test leaves
// the label as it is.
const char kCLabel[] = "SMLAYERTEST";

class Win32Network : public ::testing::Test {
 protected:
  void SetUp() override {
    freeDrive_ = win32test::UnusedDrive();
    ASSERT_FALSE(freeDrive_.empty());
  }

  std::string freeDrive_;
};

// A free letter is no connection, live (0) or remembered (1201), and cannot
// be cancelled. The seam suite checks Windows' number; this holds under Wine
// too, which answers with other numbers.
TEST_F(Win32Network, FreeLetterIsNoConnection) {
  platform::Network& network = platform::network();
  char remote[80] = "unchanged";
  std::uint32_t length = sizeof remote;
  const platform::ErrorCode status = network.GetConnection(freeDrive_, remote, length);
  EXPECT_TRUE(status != err::kSuccess && status != err::kConnectionUnavail) << status;
  EXPECT_NE(network.CancelConnection(freeDrive_, "", 0, true), err::kSuccess);
}

// A share that cannot be reached is a failure, and the letter stays free.
TEST_F(Win32Network, UnreachableShareLeavesTheLetterFree) {
  platform::Network& network = platform::network();
  platform::NetResource share;
  share.scope = net::kScopeGlobalNet;
  share.type = net::kTypeDisk;
  share.displayType = net::kDisplayTypeShare;
  share.usage = net::kUsageConnectable;
  share.localName = freeDrive_;
  share.remoteName = "\\\\127.0.0.1\\sharemapper-no-such-share";
  EXPECT_NE(network.AddConnection(share, "secret", "CORP\\bob", net::kConnectTemporary),
            err::kSuccess);
  const std::uint32_t freeBit = 1u << (freeDrive_[0] - 'A');
  EXPECT_EQ(platform::system().LogicalDrives() & freeBit, 0u);
}

// Volume names: callers pass the drive as "C:", without the backslash.
TEST_F(Win32Network, VolumeNameOfCWithOrWithoutBackslash) {
  // Compared with the system's own answer: a running wineserver may still
  // report the label C: had before.
  if (testkit::UnderWine()) ::SetVolumeLabelA("C:\\", kCLabel);
  char direct[MAX_PATH + 1] = {};
  ::GetVolumeInformationA("C:\\", direct, sizeof direct, nullptr, nullptr, nullptr, nullptr, 0);
  const std::string expected = direct;
  platform::Network& network = platform::network();
  char volume[260];
  volume[0] = '?';
  EXPECT_TRUE(network.GetVolumeName("C:", volume, sizeof volume));
  EXPECT_EQ(std::string(volume), expected);
  volume[0] = '?';
  EXPECT_TRUE(network.GetVolumeName("C:\\", volume, sizeof volume));
  EXPECT_EQ(std::string(volume), expected);
}

// A letter without a drive (no volume name: the seam suite) leaves an empty
// name behind.
TEST_F(Win32Network, VolumeNameOfAFreeLetterIsEmpty) {
  platform::Network& network = platform::network();
  char volume[260];
  volume[0] = '?';
  network.GetVolumeName(freeDrive_, volume, sizeof volume);
  EXPECT_EQ(std::string(volume), "");
  EXPECT_FALSE(network.GetVolumeName("C:", volume, 0));
}

}  // namespace
