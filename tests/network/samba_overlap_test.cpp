// Several files calls at once on one drive, as the recycle-bin walk makes
// them: the session carries them side by side over connections of its own,
// a server that stops answering ends them all, and nothing of them outlives
// the session.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix/drives.h"
#include "samba/samba_server.h"
#include "samba/server_control.h"
#include "support/private_table.h"
#include "support/stress.h"

namespace {

namespace err = platform::err;

constexpr int kThreads = 8;
constexpr int kFiles = 6;  // in each thread's folder

// Runs `body(i)` for every i below kThreads, all at once.
void AtOnce(const std::function<void(int)>& body) {
  std::vector<std::function<void()>> tasks;
  for (int i = 0; i < kThreads; ++i) tasks.push_back([&body, i] { body(i); });
  testkit::AtOnce(tasks);
}

// E: is connected to "pub", which holds the folders work/d0 .. work/d7 of
// kFiles files each.
class SambaOverlapTest : public nettest::PrivateTableTest {
 protected:
  void SetUp() override {
    nettest::PrivateTableTest::SetUp();
    SM_REQUIRE_SAMBA(server);
    server_ = &server;
    work_ = server.SharePath("pub") + "/work";
    std::error_code error;
    std::filesystem::remove_all(work_, error);
    for (int d = 0; d < kThreads; ++d) {
      const std::string dir = work_ + "/d" + std::to_string(d);
      std::filesystem::create_directories(dir);
      for (int f = 0; f < kFiles; ++f) ASSERT_TRUE(testkit::WriteFile(dir + "/f" + std::to_string(f), "x"));
    }
    ASSERT_TRUE(server.GiveToTestAccount(work_));
    platform::NetResource resource;
    resource.type = platform::net::kTypeDisk;
    resource.localName = "E:";
    resource.remoteName = server.RemoteName("pub");
    ASSERT_EQ(err::kSuccess, platform::network().AddConnection(resource, smtest::SambaServer::Password(),
                                                               smtest::SambaServer::User(),
                                                               platform::net::kConnectTemporary));
  }

  void TearDown() override {
    nettest::PrivateTableTest::TearDown();
    std::error_code error;
    if (!work_.empty()) std::filesystem::remove_all(work_, error);
  }

  static std::string Folder(int d) { return "E:\\work\\d" + std::to_string(d); }
  static std::string File(int d, int f) { return Folder(d) + "\\f" + std::to_string(f); }

  // The server's processes: one per connection, and its own.
  std::size_t ServerProcesses() const { return smtest::ProcessGroup(smtest::ServerPid(*server_)).size(); }

  platform::Files& files_ = platform::files();
  smtest::SambaServer* server_ = nullptr;
  std::string work_;
};

TEST_F(SambaOverlapTest, CallsAtOnceGoSideBySideAndEndWithTheSession) {
  ASSERT_GT(files_.Overlap(), 1u);
  const std::size_t connectionsBefore = ServerProcesses();
  std::vector<std::vector<platform::ErrorCode>> results(kThreads);
  std::vector<std::size_t> listed(kThreads);
  AtOnce([&](int d) {
    std::vector<platform::FileIdEntry> entries;
    results[d].push_back(files_.ListFileIds(Folder(d), entries));
    listed[d] = entries.size();
    for (int f = 0; f < kFiles; ++f) results[d].push_back(files_.RemoveFile(File(d, f)));
    results[d].push_back(files_.RemoveDir(Folder(d)));
  });
  for (int d = 0; d < kThreads; ++d) {
    SCOPED_TRACE(d);
    EXPECT_EQ(results[d], std::vector<platform::ErrorCode>(kFiles + 2, err::kSuccess));
    EXPECT_EQ(listed[d], kFiles + 2u);  // with "." and ".."
    EXPECT_FALSE(std::filesystem::exists(work_ + "/d" + std::to_string(d)));
  }
  // Connections of their own, which end with the session.
  EXPECT_GT(ServerProcesses(), connectionsBefore);
  EXPECT_FALSE(smtest::ChildProcesses().empty());
  platform::posix::UserDrives().DetachAll();
  EXPECT_TRUE(smtest::ChildProcesses().empty());
}

// One request timeout (5 s) ends every call under way, not one after another.
TEST_F(SambaOverlapTest, AServerThatStopsAnsweringEndsEveryCallUnderWay) {
  // The connections are made first, while the server answers.
  AtOnce([&](int d) { EXPECT_EQ(err::kSuccess, files_.RemoveFile(File(d, 0))); });
  smtest::FrozenServer frozen(*server_);
  ASSERT_TRUE(frozen.ok());
  std::vector<platform::ErrorCode> results(kThreads);
  const auto began = std::chrono::steady_clock::now();
  AtOnce([&](int d) { results[d] = files_.RemoveFile(File(d, 1)); });
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(9));
  for (const platform::ErrorCode code : results) {
    EXPECT_TRUE(code == err::kSemTimeout || code == err::kNetNameDeleted) << code;
  }
  EXPECT_NE(std::count(results.begin(), results.end(), err::kSemTimeout), 0);
  // The session is over: the next call fails at once.
  EXPECT_EQ(err::kNetNameDeleted, files_.RemoveFile(File(0, 2)));
  frozen.Thaw();
  for (int d = 0; d < kThreads; ++d) EXPECT_TRUE(std::filesystem::exists(work_ + "/d" + std::to_string(d) + "/f2"));
}

}  // namespace
