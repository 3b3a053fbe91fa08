// libsmbclient is loaded only by a connection attempt, and a library that
// cannot be loaded fails the attempt with a Windows number and a diagnostic,
// before anything is sent.
#include <dlfcn.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "support/private_table.h"
#include "platform/platform.h"
#include "platform/posix/drives.h"
#include "support/logger_capture.h"

namespace {

namespace err = platform::err;
namespace posix = platform::posix;

bool SmbLibraryInProcess() {
  void* handle = ::dlopen(posix::kSmbLibrary, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  ::dlclose(handle);
  return true;
}

platform::NetResource Resource(const std::string& localName, const std::string& remoteName) {
  platform::NetResource resource;
  resource.type = platform::net::kTypeDisk;
  resource.localName = localName;
  resource.remoteName = remoteName;
  return resource;
}

class SmbLibraryTest : public nettest::PrivateTableTest {
 protected:
  void TearDown() override {
    posix::ResetSmbApiForTests(nullptr);
    nettest::PrivateTableTest::TearDown();
  }
};

// Every call a listing or a removal makes, on a table with a row in it.
TEST_F(SmbLibraryTest, ListingAndRemovingDrivesLeaveTheLibraryUnloaded) {
  // Nothing in this program connects, so the library is only here when the
  // program was linked against it.
  ASSERT_FALSE(SmbLibraryInProcess()) << "libsmbclient is loaded at start";
  posix::ConnectionRow row;
  row.letter = 'E';
  row.remoteName = "\\\\127.0.0.1\\pub";
  row.host = "127.0.0.1";
  row.share = "pub";
  row.account = "someone";
  ASSERT_EQ(err::kSuccess, posix::UserDrives().Insert(row));

  platform::Network& network = platform::network();
  EXPECT_EQ(1u << 4, platform::system().LogicalDrives());
  char buffer[80];
  std::uint32_t length = sizeof buffer;
  EXPECT_EQ(err::kSuccess, network.GetConnection("E:", buffer, length));
  EXPECT_TRUE(network.GetVolumeName("E:\\", buffer, sizeof buffer));
  // A drive this process did not connect has no session to reach it by.
  EXPECT_EQ(err::kPathNotFound, platform::files().Access("E:\\$RECYCLE.BIN", 0));
  EXPECT_EQ(err::kSuccess, network.CancelConnection("E:", "", 0, true));

  EXPECT_FALSE(SmbLibraryInProcess());
}

TEST_F(SmbLibraryTest, AMissingLibraryFailsTheConnectionBeforeAnyTraffic) {
  posix::ResetSmbApiForTests("libsmbclient-not-installed.so.0");
  testkit::LoggerCapture logged("Sharemapper.Smb");
  platform::Network& network = platform::network();
  // Nothing is sent: were the library found after all, the answer would
  // be 53 (nothing listens on 127.0.0.2), not 1222.
  const auto start = std::chrono::steady_clock::now();
  const platform::ErrorCode first = network.AddConnection(Resource("E:", "\\\\127.0.0.2\\pub"), "secret",
                                                          "someone", platform::net::kConnectTemporary);
  const platform::ErrorCode second = network.AddConnection(Resource("F:", "\\\\127.0.0.2\\pub"), "secret",
                                                           "someone", platform::net::kConnectTemporary);
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(err::kNoNetwork, first);
  EXPECT_EQ(err::kNoNetwork, second);
  EXPECT_LT(took, std::chrono::milliseconds(500));
  EXPECT_EQ(0u, posix::UserDrives().LetterMask());
  EXPECT_TRUE(logged.HasError("cannot load libsmbclient-not-installed.so.0"));
}

}  // namespace
