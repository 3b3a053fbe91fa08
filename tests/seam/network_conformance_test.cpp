// What the portable code relies on from the network and volume-name
// concern without a server, checked against the fake the unit tests use and
// this build's real layer: a letter with no connection is not one, and a
// connection needs a letter. Connections to a share are the Samba tests'
// (and, under Wine, the provider tests') part.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/platform.h"
#include "support/fakes.h"
#include "support/runner.h"
#include "support/seam.h"

namespace {

namespace err = platform::err;
namespace net = platform::net;

struct FakeLayer {
  static constexpr const char* kName = "Fake";
  platform::Network& network() { return fake; }
  platform::System& system() { return drives; }
  fakes::FakeNetwork fake;
  fakes::FakeSystem drives;
};

struct RealLayer {
  static constexpr const char* kName = "Real";
  RealLayer() { seam::UseSandbox(); }
  platform::Network& network() { return platform::network(); }
  platform::System& system() { return platform::system(); }
};

template <typename Layer>
class NetworkConformance : public ::testing::Test {
 protected:
  // A letter ("Q:") that no drive uses, searched from Y: downwards.
  std::string FreeDrive() {
    const std::uint32_t used = layer_.system().LogicalDrives();
    for (char letter = 'Y'; letter >= 'D'; --letter) {
      if ((used & (1u << (letter - 'A'))) == 0) return std::string(1, letter) + ":";
    }
    ADD_FAILURE() << "no free drive letter";
    return "D:";
  }

  Layer layer_;
};

using Layers = ::testing::Types<FakeLayer, RealLayer>;
TYPED_TEST_SUITE(NetworkConformance, Layers, seam::LayerNames);

// The listing asks every letter: neither a local disk nor a free letter is
// a connection, live (0) or remembered (1201), and deleting one fails.
TYPED_TEST(NetworkConformance, ALocalDiskIsNotConnected) {
  char remote[80] = "unchanged";
  std::uint32_t length = sizeof remote;
  EXPECT_EQ(this->layer_.network().GetConnection("C:", remote, length), err::kNotConnected);
}

TYPED_TEST(NetworkConformance, AFreeLetterIsNotConnected) {
  // Wine answers a letter that no drive uses with ERROR_BAD_DEVICE (1200),
  // and, with no network provider installed, its cancellation with
  // ERROR_NO_NETWORK (1222); Windows answers both with ERROR_NOT_CONNECTED.
  if (std::is_same<TypeParam, RealLayer>::value && testkit::UnderWine()) GTEST_SKIP() << "Wine's numbers differ";
  platform::Network& network = this->layer_.network();
  char remote[80] = "unchanged";
  std::uint32_t length = sizeof remote;
  EXPECT_EQ(network.GetConnection(this->FreeDrive(), remote, length), err::kNotConnected);
  EXPECT_EQ(network.CancelConnection(this->FreeDrive(), "", 0, true), err::kNotConnected);
}

TYPED_TEST(NetworkConformance, AFreeLetterHasNoVolumeName) {
  char volume[260] = "?";
  EXPECT_FALSE(this->layer_.network().GetVolumeName(this->FreeDrive(), volume, sizeof volume));
}

// Without a letter there is nothing to map the share to: refused before
// anything is sent.
TYPED_TEST(NetworkConformance, AConnectionWithoutALetterIsABadDevice) {
  platform::NetResource share;
  share.scope = net::kScopeGlobalNet;
  share.type = net::kTypeDisk;
  share.displayType = net::kDisplayTypeShare;
  share.usage = net::kUsageConnectable;
  share.remoteName = "\\\\127.0.0.1\\sharemapper-no-such-share";
  EXPECT_EQ(this->layer_.network().AddConnection(share, "secret", "bob", net::kConnectTemporary), err::kBadDevice);
}

// Remembered (persistent) connections, as Microsoft documents them: 1201
// with the remote name (or, from some providers, none) while not connected,
// 1202 for an add of another share to the letter, forgotten only by a
// cancellation that updates the profile. The portable code relies on each of
// these. Neither the Linux layer (which remembers nothing) nor Wine (whose
// WNetGetConnection asks its mount manager alone) can answer them, so they
// run against the fake only.
TEST(RememberedConnections, AsWindowsAnswersThem) {
  fakes::FakeNetwork network;
  network.remembered["G:"] = "\\\\srv\\pub";
  network.remembered["H:"] = "";
  char remote[80] = "unchanged";
  std::uint32_t length = sizeof remote;
  EXPECT_EQ(network.GetConnection("G:", remote, length), err::kConnectionUnavail);
  EXPECT_STREQ(remote, "\\\\srv\\pub");
  EXPECT_EQ(network.GetConnection("H:", remote, length), err::kConnectionUnavail);
  EXPECT_STREQ(remote, "");
  EXPECT_EQ(network.GetConnection("K:", remote, length), err::kNotConnected);

  platform::NetResource other;
  other.type = net::kTypeDisk;
  other.localName = "G:";
  other.remoteName = "\\\\srv\\other";
  EXPECT_EQ(network.AddConnection(other, "pw", "bob", net::kConnectTemporary), err::kDeviceAlreadyRemembered);

  EXPECT_EQ(network.CancelConnection("G:", "", 0, true), err::kNotConnected);
  EXPECT_EQ(network.GetConnection("G:", remote, length), err::kConnectionUnavail);
  EXPECT_EQ(network.CancelConnection("G:", "\\\\srv\\other", net::kUpdateProfile, true), err::kNotConnected);
  EXPECT_EQ(network.CancelConnection("G:", "\\\\srv\\pub", net::kUpdateProfile, true), err::kSuccess);
  EXPECT_EQ(network.GetConnection("G:", remote, length), err::kNotConnected);
}

}  // namespace
