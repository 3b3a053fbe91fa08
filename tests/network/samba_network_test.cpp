// Network connections against the loopback Samba server: connecting,
// listing, cancelling, every refusal with its Windows number, and races.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/private_table.h"
#include "platform/platform.h"
#include "platform/posix/drives.h"
#include "samba/samba_server.h"

namespace {

namespace err = platform::err;
namespace posix = platform::posix;
using Clock = std::chrono::steady_clock;

platform::NetResource Resource(const std::string& localName, const std::string& remoteName) {
  platform::NetResource resource;
  resource.scope = platform::net::kScopeGlobalNet;
  resource.type = platform::net::kTypeDisk;
  resource.displayType = platform::net::kDisplayTypeShare;
  resource.usage = platform::net::kUsageConnectable;
  resource.localName = localName;
  resource.remoteName = remoteName;
  return resource;
}

class SambaNetworkTest : public nettest::PrivateTableTest {
 protected:
  void SetUp() override {
    nettest::PrivateTableTest::SetUp();
    SM_REQUIRE_SAMBA(server);
    server_ = &server;
  }

  platform::ErrorCode Add(const std::string& drive, const std::string& remote,
                          const std::string& user = smtest::SambaServer::User(),
                          const std::string& password = smtest::SambaServer::Password()) {
    return network_.AddConnection(Resource(drive, remote), password, user, platform::net::kConnectTemporary);
  }

  std::string Remote(const std::string& share) const { return server_->RemoteName(share); }

  // Nothing was recorded and nothing can be reached on the letter.
  void ExpectNoTrace(const std::string& drive) {
    EXPECT_EQ(0u, posix::UserDrives().LetterMask()) << drive;
    char buffer[80];
    std::uint32_t length = sizeof buffer;
    EXPECT_EQ(err::kNotConnected, network_.GetConnection(drive, buffer, length)) << drive;
    EXPECT_NE(err::kSuccess, platform::files().Access(drive + "\\", 0)) << drive;
  }

  platform::Network& network_ = platform::network();
  smtest::SambaServer* server_ = nullptr;
};

TEST_F(SambaNetworkTest, ConnectListAndCancel) {
  ASSERT_EQ(err::kSuccess, Add("e:", Remote("pub") + "\\docs"));

  char buffer[80] = {};
  std::uint32_t length = sizeof buffer;
  ASSERT_EQ(err::kSuccess, network_.GetConnection("E:", buffer, length));
  EXPECT_EQ(Remote("pub") + "\\docs", std::string(buffer));
  EXPECT_EQ(1u << 4, platform::system().LogicalDrives());
  for (const char* root : {"E:", "E:\\", "e:/"}) {
    char volume[260] = {};
    ASSERT_TRUE(network_.GetVolumeName(root, volume, sizeof volume)) << root;
    EXPECT_EQ("pub", std::string(volume));
  }
  EXPECT_EQ(err::kSuccess, platform::files().Access("E:\\", 0));

  EXPECT_EQ(err::kSuccess, network_.CancelConnection("e:", "", 0, true));
  ExpectNoTrace("E:");
  EXPECT_EQ(err::kNotConnected, network_.CancelConnection("E:", "", 0, true));
  char volume[260];
  EXPECT_FALSE(network_.GetVolumeName("E:", volume, sizeof volume));

  // The letter is free again.
  EXPECT_EQ(err::kSuccess, Add("E:", Remote("team")));
}

TEST_F(SambaNetworkTest, RefusalsMapToWindowsNumbersAndLeaveNoRow) {
  struct Case {
    const char* what;
    std::string remote;
    std::string user;
    std::string password;
    platform::ErrorCode expected;
  };
  const std::string user = smtest::SambaServer::User();
  const std::string password = smtest::SambaServer::Password();
  const std::vector<Case> cases = {
      {"wrong password", Remote("pub"), user, "not-the-password", err::kLogonFailure},
      {"empty password", Remote("pub"), user, "", err::kLogonFailure},
      {"unknown account", Remote("pub"), "SMTESTGROUP\\nobody-here", password, err::kLogonFailure},
      {"missing share", Remote("nosuchshare"), user, password, err::kBadNetName},
      {"missing folder", Remote("pub") + "\\no\\such\\folder", user, password, err::kBadNetName},
      {"share the account may not use", Remote("denied"), user, password, err::kAccessDenied},
      {"nothing listens there", "\\\\127.0.0.2\\pub", user, password, err::kBadNetPath},
      {"port syntax", "\\\\127.0.0.1:445\\pub", user, password, err::kBadNetPath},
      {"climbing out of the share", Remote("pub") + "\\..\\team", user, password, err::kBadNetName},
  };
  for (const Case& c : cases) {
    const auto start = Clock::now();
    EXPECT_EQ(c.expected, Add("E:", c.remote, c.user, c.password)) << c.what;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << c.what;
    ExpectNoTrace("E:");
  }

  const std::string file = server_->SharePath("pub") + "/a-file";
  testkit::WriteFile(file, "x");
  EXPECT_EQ(err::kBadNetName, Add("E:", Remote("pub") + "\\a-file"));
  ::unlink(file.c_str());
  ExpectNoTrace("E:");
  EXPECT_EQ(err::kBadDevice, Add("E", Remote("pub")));
  EXPECT_EQ(err::kBadDevice, Add("", Remote("pub")));
  EXPECT_EQ(err::kInvalidParameter, Add("E:", Remote("pub"), ""));
  ExpectNoTrace("E:");
}

TEST_F(SambaNetworkTest, OneAccountPerServer) {
  ASSERT_EQ(err::kSuccess, Add("E:", Remote("pub")));
  // Another account on the same server is refused before any logon: even a
  // wrong password gives 1219, not 1326.
  EXPECT_EQ(err::kSessionCredentialConflict, Add("F:", Remote("team"), "SMTESTGROUP\\other", "wrong"));
  EXPECT_EQ(err::kSessionCredentialConflict, Add("F:", Remote("team"), "someone", smtest::SambaServer::Password()));
  EXPECT_EQ(1u << 4, posix::UserDrives().LetterMask());
  // The same account, spelled in another case, may connect more shares.
  EXPECT_EQ(err::kSuccess, Add("F:", Remote("team"), "SMTEST"));
  EXPECT_EQ((1u << 4) | (1u << 5), posix::UserDrives().LetterMask());
  // Once the server's connections are gone, another account may connect.
  EXPECT_EQ(err::kSuccess, network_.CancelConnection("E:", "", 0, true));
  EXPECT_EQ(err::kSuccess, network_.CancelConnection("F:", "", 0, true));
  EXPECT_EQ(err::kLogonFailure, Add("F:", Remote("team"), "someone", "wrong"));
}

TEST_F(SambaNetworkTest, LetterInUse) {
  ASSERT_EQ(err::kSuccess, Add("E:", Remote("pub")));
  // Decided before the network: a wrong password still gives 85.
  EXPECT_EQ(err::kAlreadyAssigned, Add("e:", Remote("team"), smtest::SambaServer::User(), "wrong"));
  EXPECT_EQ(err::kAlreadyAssigned, Add("E:", Remote("team")));
  char buffer[80] = {};
  std::uint32_t length = sizeof buffer;
  ASSERT_EQ(err::kSuccess, network_.GetConnection("E:", buffer, length));
  EXPECT_EQ(Remote("pub"), std::string(buffer));
}

TEST_F(SambaNetworkTest, RacingProcessesGetOneConnection) {
  constexpr int kRacers = 4;
  posix::UserDrives().CloseTableForTests();  // nothing open across fork
  int gate[2];
  ASSERT_EQ(0, ::pipe(gate));
  std::vector<pid_t> children;
  for (int i = 0; i < kRacers; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char go;
      if (::read(gate[0], &go, 1) != 0) _exit(100);
      const platform::ErrorCode code = Add("R:", Remote(i % 2 == 0 ? "pub" : "team"));
      // _exit: the child must not run the parent's exit handlers.
      _exit(code == err::kSuccess ? 0 : code == err::kAlreadyAssigned ? 1 : 2);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  int winners = 0, losers = 0;
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    winners += WEXITSTATUS(status) == 0;
    losers += WEXITSTATUS(status) == 1;
  }
  EXPECT_EQ(1, winners);
  EXPECT_EQ(kRacers - 1, losers);
  EXPECT_EQ(1u << ('R' - 'A'), posix::UserDrives().LetterMask());
}

TEST_F(SambaNetworkTest, RemoteNameBufferSizes) {
  const std::string remote = Remote("pub") + "\\docs";
  ASSERT_EQ(err::kSuccess, Add("E:", remote));
  std::vector<char> buffer(remote.size() + 1, 'x');

  std::uint32_t length = static_cast<std::uint32_t>(remote.size());
  EXPECT_EQ(err::kMoreData, network_.GetConnection("E:", buffer.data(), length));
  EXPECT_EQ(remote.size() + 1, length);
  std::uint32_t zero = 0;
  EXPECT_EQ(err::kMoreData, network_.GetConnection("E:", nullptr, zero));
  EXPECT_EQ(remote.size() + 1, zero);

  length = static_cast<std::uint32_t>(remote.size() + 1);
  ASSERT_EQ(err::kSuccess, network_.GetConnection("E:", buffer.data(), length));
  EXPECT_EQ(remote, std::string(buffer.data()));

  char volume[3];
  EXPECT_FALSE(network_.GetVolumeName("E:", volume, sizeof volume));  // "pub" needs 4
  EXPECT_EQ(err::kBadDevice, network_.GetConnection("E", buffer.data(), length));
}

// libsmbclient writes its diagnostics to standard output unless told
// otherwise, and the program's result goes there.
TEST_F(SambaNetworkTest, TheLibraryPrintsNothing) {
  testkit::TempDir dir;
  const std::string capture = dir / "out";
  std::fflush(nullptr);
  std::cout.flush();
  std::cerr.flush();
  const int savedOut = ::dup(1), savedErr = ::dup(2);
  FILE* file = std::fopen(capture.c_str(), "w");
  ASSERT_NE(nullptr, file);
  ::dup2(::fileno(file), 1);
  ::dup2(::fileno(file), 2);

  const platform::ErrorCode wrong = Add("E:", Remote("pub"), smtest::SambaServer::User(), "wrong");
  const platform::ErrorCode missing = Add("E:", Remote("nosuchshare"));
  const platform::ErrorCode refused = Add("E:", "\\\\127.0.0.2\\pub");
  const platform::ErrorCode denied = Add("E:", Remote("denied"));
  const platform::ErrorCode good = Add("E:", Remote("pub"));
  const platform::ErrorCode access = platform::files().Access("E:\\no-such-entry", 0);
  const platform::ErrorCode cancelled = network_.CancelConnection("E:", "", 0, true);

  std::fflush(nullptr);
  ::dup2(savedOut, 1);
  ::dup2(savedErr, 2);
  ::close(savedOut);
  ::close(savedErr);
  std::fclose(file);

  EXPECT_EQ(err::kLogonFailure, wrong);
  EXPECT_EQ(err::kBadNetName, missing);
  EXPECT_EQ(err::kBadNetPath, refused);
  EXPECT_EQ(err::kAccessDenied, denied);
  EXPECT_EQ(err::kSuccess, good);
  EXPECT_EQ(err::kFileNotFound, access);
  EXPECT_EQ(err::kSuccess, cancelled);
  EXPECT_EQ("", testkit::ReadFile(capture));
}

}  // namespace
