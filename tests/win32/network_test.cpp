#include <string>

#include "check.h"
#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "suite.h"

namespace suite {

void NetworkTests(const Options& options) {
  check::Section("Network");
  platform::Network& network = platform::network();
  namespace err = platform::err;

  const std::string freeDrive = UnusedDrive();
  if (!CHECK(!freeDrive.empty())) return;
  const std::uint32_t freeBit = 1u << (freeDrive[0] - 'A');

  // Neither a freeDrive letter nor a local disk is reported as a connection,
  // live (0) or remembered (1201).
  char remote[80] = "unchanged";
  std::uint32_t length = sizeof remote;
  const platform::ErrorCode freeStatus = network.GetConnection(freeDrive, remote, length);
  CHECK(freeStatus != err::kSuccess && freeStatus != err::kConnectionUnavail);
  length = sizeof remote;
  const platform::ErrorCode localStatus = network.GetConnection("C:", remote, length);
  CHECK(localStatus != err::kSuccess && localStatus != err::kConnectionUnavail);

  CHECK(network.CancelConnection(freeDrive, 0, true) != err::kSuccess);

  // A share that cannot be reached is a failure, and the letter stays freeDrive.
  platform::NetResource share;
  share.scope = platform::net::kScopeGlobalNet;
  share.type = platform::net::kTypeDisk;
  share.displayType = platform::net::kDisplayTypeShare;
  share.usage = platform::net::kUsageConnectable;
  share.localName = freeDrive;
  share.remoteName = "\\\\127.0.0.1\\sharemapper-no-such-share";
  CHECK(network.AddConnection(share, "secret", "CORP\\bob", platform::net::kConnectTemporary) !=
        err::kSuccess);
  CHECK_EQ(platform::system().LogicalDrives() & freeBit, 0u);
  // Without a letter there is nothing to map the share to.
  share.localName.clear();
  CHECK_EQ(network.AddConnection(share, "secret", "bob", platform::net::kConnectTemporary),
           err::kBadDevice);

  // Volume names: callers pass the drive as "C:", without the backslash.
  std::string expected = options.cLabel;
  if (expected.empty()) {
    char direct[MAX_PATH + 1] = {};
    ::GetVolumeInformationA("C:\\", direct, sizeof direct, nullptr, nullptr, nullptr, nullptr, 0);
    expected = direct;
  }
  char volume[260];
  volume[0] = '?';
  CHECK(network.GetVolumeName("C:", volume, sizeof volume));
  CHECK_EQ(std::string(volume), expected);
  volume[0] = '?';
  CHECK(network.GetVolumeName("C:\\", volume, sizeof volume));
  CHECK_EQ(std::string(volume), expected);
  // A letter without a drive leaves an empty name behind.
  volume[0] = '?';
  CHECK(!network.GetVolumeName(freeDrive, volume, sizeof volume));
  CHECK_EQ(std::string(volume), std::string());
  CHECK(!network.GetVolumeName("C:", volume, 0));
}

}  // namespace suite
