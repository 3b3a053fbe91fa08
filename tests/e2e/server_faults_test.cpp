// The server going away in the middle of an add, running the real binary
// against the loopback Samba server: frozen while the add sets up its
// session, killed or frozen while the add empties a recycle bin. Each case
// must give one clear result and the documented exit status, leave what was
// stored before as it was, and let the next run work once the server is back.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "samba/connect_trace.h"
#include "samba/samba_sandbox.h"
#include "samba/server_control.h"
#include "support/envelope.h"
#include "support/golden.h"
#include "support/runner.h"

using smtest::ExpectDocsOnE;
using smtest::FrozenServer;
using smtest::On;
using smtest::OnlyLoopbackServer;
using smtest::ProcessGroup;
using smtest::Restart;
using smtest::RunTraced;
using smtest::ServerPid;
using smtest::StartTime;
using smtest::Traced;
using testkit::Cleanup;
using testkit::Entries;
using testkit::FindDrive;
using testkit::Letters;
using testkit::Listed;
namespace err = platform::err;

// The suite runs in the end-to-end fixture: the server and a sandbox per test.
using Robustness = smtest::SambaSandbox;

TEST_F(Robustness, ServerFrozenDuringAddLeavesNoRowAndTheNextAddWorks) {
  ASSERT_TRUE(Added(On("e", "pub\\docs")));
  const std::string storeBefore = testkit::ReadFile(StoreFile());
  const std::string tableBefore = testkit::ReadFile(TableFile());

  {
    FrozenServer frozen(server());
    ASSERT_TRUE(frozen.ok()) << "cannot find the test server's smbd under " << server().StateDir();
    // The port still accepts the connection; the session set-up gets no answer.
    const auto start = std::chrono::steady_clock::now();
    const testkit::Run add = Run(On("f", "team").Args());
    const auto took = std::chrono::steady_clock::now() - start;
    frozen.Thaw();
    ExpectAddFailed(add);
    EXPECT_LT(took, std::chrono::seconds(20));
  }

  // No row for F, and nothing written or changed for anyone.
  EXPECT_EQ(testkit::ReadFile(TableFile()), tableBefore);
  EXPECT_EQ(testkit::ReadFile(StoreFile()), storeBefore);
  std::vector<Listed> drives = Query();
  EXPECT_EQ(Letters(drives), "E");
  ExpectDocsOnE(drives);

  // The server answers again: the same add now works.
  ASSERT_TRUE(Added(On("f", "team")));
  drives = Query();
  EXPECT_EQ(Letters(drives), "EF");
  ExpectDocsOnE(drives);
  EXPECT_TRUE(Deleted("e"));
  EXPECT_TRUE(Deleted("f"));
}

TEST_F(Robustness, ServerStoppedDuringTheRecycleBinWalk) {
  // A recycle bin large enough that emptying it takes a few seconds.
  const std::string bin = server().SharePath("team") + "/$RECYCLE.BIN";
  constexpr std::size_t kFolders = 60;
  Cleanup removeBin{[&] { std::system(("rm -rf '" + bin + "'").c_str()); }};
  ASSERT_EQ(std::system(("rm -rf '" + bin + "' && mkdir -p '" + bin + "' && cd '" + bin + "' && for d in $(seq 1 " +
                         std::to_string(kFolders) + "); do mkdir S$d && (cd S$d && touch $(seq -f f%g 1 50)); done")
                            .c_str()),
            0);
  ASSERT_TRUE(server().GiveToTestAccount(bin));
  ASSERT_TRUE(Added(On("e", "pub\\docs")));

  const pid_t group = ServerPid(server());
  ASSERT_NE(group, 0) << "cannot find the test server's smbd under " << server().StateDir();
  const bool ours = StartTime(group) >= StartTime(::getpid());
  // Whatever happens below, the other tests get a running server back.
  Cleanup restart{[&] {
    if (ServerPid(server()) == 0) Restart(server(), ours);
  }};

  // The add runs in the background; once it has emptied the first folder of
  // the bin, the whole server is killed. libsmbclient would reconnect to a
  // server that is still there, so the session alone is not enough.
  std::remove((box_->cwd + "/Applog/VkSharemapper.log").c_str());
  testkit::Run add;
  std::atomic<bool> done{false};
  std::thread adder([&] {
    add = Run(On("g", "team", "Team").Args(false));
    done = true;
  });
  bool killed = false;
  while (!killed && !done) {
    if (Entries(bin) < kFolders) killed = ::kill(-group, SIGKILL) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  adder.join();
  ASSERT_TRUE(killed) << "the walk ended before the server could be stopped: " << add.out << box_->AppLog();
  for (int i = 0; i < 500 && !ProcessGroup(group).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::size_t left = Entries(bin);
  EXPECT_GT(left, 0u) << "the walk finished after all";
  EXPECT_LT(left, kFolders);

  // Connected and recorded is a success; the bin's removal does not count.
  EXPECT_EQ(add.out, golden::FormLine("add_success"));
  EXPECT_EQ(add.status, 0);
  EXPECT_EQ(add.err, "");
  EXPECT_NE(box_->AppLog().find("Samba disk mount: 1"), std::string::npos) << box_->AppLog();
  std::vector<Listed> drives = Query();
  EXPECT_EQ(Letters(drives), "EG");
  ExpectDocsOnE(drives);
  const Listed* g = FindDrive(drives, "G:");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->volumename, "Team");
  EXPECT_EQ(g->location, "\\team");

  // With no server at all: refused, no row.
  const Traced refused = RunTraced(*box_, On("h", "pub").Args());
  ExpectAddFailed(refused.run, err::kBadNetPath);
  EXPECT_TRUE(OnlyLoopbackServer(refused));
  EXPECT_EQ(Letters(Query()), "EG");

  // Back again: adds and deletes work.
  ASSERT_TRUE(Restart(server(), ours));
  ASSERT_TRUE(Added(On("h", "pub")));
  EXPECT_TRUE(Deleted("g"));
  EXPECT_TRUE(Deleted("h"));
  EXPECT_TRUE(Deleted("e"));
  EXPECT_EQ(Run({}).out, golden::EmptyQuery());
}

// The server freezes while the add empties a recycle bin of 330 entries: the
// walk ends at the first call that gets no answer in time, so the add ends
// within one request timeout (5 s), not one timeout per entry.
TEST_F(Robustness, ServerFrozenDuringTheRecycleBinWalkEndsInSeconds) {
  const std::string bin = server().SharePath("team") + "/$RECYCLE.BIN";
  constexpr std::size_t kFolders = 30;
  Cleanup removeBin{[&] { std::system(("rm -rf '" + bin + "'").c_str()); }};
  ASSERT_EQ(std::system(("rm -rf '" + bin + "' && mkdir -p '" + bin + "' && cd '" + bin + "' && for d in $(seq 1 " +
                         std::to_string(kFolders) + "); do mkdir S$d && (cd S$d && touch $(seq -f f%g 1 10)); done")
                            .c_str()),
            0);
  ASSERT_TRUE(server().GiveToTestAccount(bin));

  testkit::Run add;
  std::atomic<bool> done{false};
  std::chrono::steady_clock::time_point frozenAt;
  std::chrono::steady_clock::time_point endedAt;
  std::unique_ptr<FrozenServer> frozen;
  std::thread adder([&] {
    add = Run(On("g", "team", "Team").Args());
    endedAt = std::chrono::steady_clock::now();
    done = true;
  });
  // Frozen once the walk has emptied its first folder.
  while (!frozen && !done) {
    if (Entries(bin) < kFolders) {
      frozen = std::make_unique<FrozenServer>(server());
      frozenAt = std::chrono::steady_clock::now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  adder.join();
  ASSERT_TRUE(frozen && frozen->ok()) << "the walk ended before the server could be frozen: " << add.out;
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(endedAt - frozenAt);
  frozen->Thaw();
  std::cout << "[ NOTE     ] the add ended " << took.count() << " ms after the server froze" << std::endl;
  // The walk makes no call after the one that got no answer, and that call
  // ends at its deadline (5 s), however many requests libsmbclient sends
  // for it. With room for a loaded machine.
  EXPECT_LT(took, std::chrono::seconds(9));
  EXPECT_GT(Entries(bin), 0u) << "the walk finished after all";

  // Connected and recorded: a success, whatever became of the bin.
  EXPECT_EQ(add.out, golden::Envelope("add_success"));
  EXPECT_EQ(add.status, 0);
  EXPECT_EQ(add.err, "");
  const std::vector<std::string> lines = testkit::Lines(box_->AppLog());
  ASSERT_EQ(lines.size(), 3u) << box_->AppLog();
  EXPECT_NE(lines[1].find("Samba disk mount: 1"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("173  INFO:  try delete RECYCLE.BIN"), std::string::npos) << lines[2];
  std::vector<Listed> drives = Query();
  ASSERT_EQ(Letters(drives), "G");
  EXPECT_EQ(drives[0].volumename, "Team");
  EXPECT_EQ(drives[0].userid, "1001");
  EXPECT_EQ(drives[0].dsid, "77");
  EXPECT_TRUE(Deleted("g"));
}
