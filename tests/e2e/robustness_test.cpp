// Faults and hostile input, running the real binary against the loopback
// Samba server: the server going away in the middle of an add, a key store
// that cannot be written or is damaged, a connection table that cannot be
// used, and over-long, control, non-ASCII and path-like values in every text
// option. Each case must give one clear result and the documented exit
// status, leave what was stored before as it was, and let the next run work
// once the fault is gone.
//
// Which addresses a run contacts is watched with strace (connect() calls
// only); those checks are left out where strace is not installed.
#include <gtest/gtest.h>

#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/drives.h"
#include "platform/posix/registry.h"
#include "samba/connect_trace.h"
#include "samba/samba_sandbox.h"
#include "samba/samba_server.h"
#include "samba/server_control.h"
#include "support/envelope.h"
#include "support/runner.h"
#include "utils/vkreg.h"

using smtest::AddValues;
using smtest::ExpectDocsOnE;
using smtest::FrozenServer;
using smtest::NoNetworkAtAll;
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
using testkit::Envelope;
using testkit::Exists;
using testkit::FindDrive;
using testkit::IsUtf8;
using testkit::kFailureStatus;
using testkit::Letters;
using testkit::Listed;
using testkit::QueryList;
using testkit::Sandbox;
using testkit::SetImmutable;
using testkit::WriteFile;

// The suite runs in the end-to-end fixture: the server and a sandbox per test.
using Robustness = smtest::SambaSandbox;

namespace {

const std::string kHeader = "DRIVE\tHOST\t\t\tUSERID\t\t\tDISKSESSIONID\t\t\tLOCATION\t\t\t\t\tVOLUMENAME\n";
const std::string kAddFailed = "add failed,mount fault";
}  // namespace

// ===========================================================================
// Faults

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
  EXPECT_EQ(add.out, "add success\n");
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
  ExpectAddFailed(refused.run, 53);
  EXPECT_TRUE(OnlyLoopbackServer(refused));
  EXPECT_EQ(Letters(Query()), "EG");

  // Back again: adds and deletes work.
  ASSERT_TRUE(Restart(server(), ours));
  ASSERT_TRUE(Added(On("h", "pub")));
  EXPECT_TRUE(Deleted("g"));
  EXPECT_TRUE(Deleted("h"));
  EXPECT_TRUE(Deleted("e"));
  EXPECT_EQ(Run({}).out, kHeader + ".\n");
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
  EXPECT_EQ(add.out, "{\"data\":{},\"errorCode\":0,\"message\":\"add success\",\"success\":true}\n");
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

TEST_F(Robustness, ReadOnlyKeyStore) {
  ASSERT_TRUE(Added(On("e", "pub\\docs")));
  const std::string store = StoreFile();
  const std::string bytes = testkit::ReadFile(store);
  ASSERT_FALSE(bytes.empty());
  if (!SetImmutable(store, true)) GTEST_SKIP() << "chattr +i does not work here: no file is unwritable for root";
  Cleanup unlock{[&] { SetImmutable(store, false); }};

  // The drive is connected, then its record cannot be written: a failure,
  // and the connection stays (no rollback).
  const testkit::Run add = Run(On("f", "team").Args());
  EXPECT_EQ(add.out, "{\"data\":{},\"errorCode\":20000,\"message\":\"" + kAddFailed + "\",\"success\":false}\n");
  EXPECT_EQ(add.status, kFailureStatus);
  EXPECT_EQ(add.err, "");
  EXPECT_NE(box_->AppLog().find("mapping net disk sucessed"), std::string::npos) << box_->AppLog();
  EXPECT_NE(box_->AppLog().find("Samba disk mount: 0"), std::string::npos) << box_->AppLog();
  EXPECT_EQ(testkit::ReadFile(store), bytes);

  // Reading works: E with its record, F with the defaults.
  std::vector<Listed> drives = Query();
  EXPECT_EQ(Letters(drives), "EF");
  ExpectDocsOnE(drives);
  const Listed* f = FindDrive(drives, "F:");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->userid, "dummy");
  EXPECT_EQ(f->dsid, "dummy");
  EXPECT_EQ(f->volumename, "team");
  const testkit::Run form = Run({});
  EXPECT_EQ(form.status, 0);
  EXPECT_EQ(form.out.substr(0, kHeader.size()), kHeader);

  // F has no record to delete: its delete works. E's record cannot be
  // deleted: a failure, although the drive itself is disconnected.
  EXPECT_TRUE(Deleted("f"));
  const testkit::Run del = Run({"--del", "--drive=e"});
  EXPECT_EQ(del.out, "delete failed ,unmount fault\n");
  EXPECT_EQ(del.status, kFailureStatus);
  EXPECT_NE(box_->AppLog().find("delete MountPoints2 key failed"), std::string::npos) << box_->AppLog();
  EXPECT_EQ(testkit::ReadFile(store), bytes);
  EXPECT_EQ(Letters(Query()), "");

  // Writable again: E is added with a new label and deleted as usual.
  ASSERT_TRUE(SetImmutable(store, false));
  ASSERT_TRUE(Added(On("e", "pub\\docs", "Docs2")));
  drives = Query();
  ASSERT_EQ(Letters(drives), "E");
  EXPECT_EQ(drives[0].volumename, "Docs2");
  EXPECT_TRUE(Deleted("e"));
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", "_LabelFromReg"), "<none>");
}

TEST_F(Robustness, DamagedKeyStoreIsNeverRewritten) {
  ASSERT_TRUE(Added(On("e", "pub\\docs")));
  const std::string store = StoreFile();
  const std::string good = testkit::ReadFile(store);
  std::string damaged = good;
  for (std::size_t i = 0; i < damaged.size(); i += 7) damaged[i] = static_cast<char>(0xA5 ^ i);
  WriteFile(store, damaged);

  const testkit::Run add = Run(On("f", "team").Args());
  EXPECT_EQ(add.out, "{\"data\":{},\"errorCode\":20000,\"message\":\"" + kAddFailed + "\",\"success\":false}\n");
  EXPECT_EQ(add.status, kFailureStatus);
  EXPECT_EQ(add.err, "");
  EXPECT_NE(box_->AppLog().find("Samba disk mount: 0"), std::string::npos) << box_->AppLog();

  // Both drives are listed, without what their records would say.
  std::vector<Listed> drives = Query();
  ASSERT_EQ(Letters(drives), "EF");
  EXPECT_EQ(drives[0].userid, "dummy");
  EXPECT_EQ(drives[0].volumename, "pub");
  EXPECT_EQ(drives[1].dsid, "dummy");
  EXPECT_EQ(drives[1].volumename, "team");
  const testkit::Run form = Run({});
  EXPECT_EQ(form.status, 0);
  EXPECT_EQ(testkit::Lines(form.out).size(), 4u) << form.out;

  // A record that cannot be looked at cannot be deleted: a failure, and the
  // connection is gone all the same.
  const testkit::Run del = Run({"--del", "--drive=f", "--outformat=json"});
  EXPECT_EQ(del.out, "{\"data\":{},\"errorCode\":20000,\"message\":\"delete failed ,unmount fault\",\"success\":false}\n");
  EXPECT_EQ(del.status, kFailureStatus);
  EXPECT_EQ(testkit::ReadFile(store), damaged);

  // The good file back: E's record is there, and everything works again.
  WriteFile(store, good);
  drives = Query();
  ASSERT_EQ(Letters(drives), "E");
  ExpectDocsOnE(drives);
  ASSERT_TRUE(Added(On("f", "team")));
  EXPECT_TRUE(Deleted("e"));
  EXPECT_TRUE(Deleted("f"));
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", "_LabelFromReg"), "<none>");
}

TEST_F(Robustness, DamagedConnectionTableIsRefusedBeforeAnyNetwork) {
  ASSERT_TRUE(Added(On("e", "pub\\docs")));
  // The table's own files: the database and, when it keeps one, its log.
  const std::string log = TableFile() + "-wal";
  const std::string good = testkit::ReadFile(TableFile());
  const std::string goodLog = testkit::ReadFile(log);
  const std::string storeBefore = testkit::ReadFile(StoreFile());
  const std::string damaged = std::string(4096, 'T');
  WriteFile(TableFile(), damaged);

  const Traced add = RunTraced(*box_, On("f", "team").Args());
  ExpectAddFailed(add.run, 1011);
  if (add.traced) {
    EXPECT_TRUE(NoNetworkAtAll(add));
  }

  // Nothing can be listed, so nothing is found to delete.
  EXPECT_EQ(Letters(Query()), "");
  EXPECT_EQ(Run({}).out, kHeader + ".\n");
  const testkit::Run del = Run({"--del", "--drive=e"});
  EXPECT_EQ(del.out, "delete failed ,not found drive\n");
  EXPECT_EQ(del.status, kFailureStatus);
  EXPECT_EQ(testkit::ReadFile(TableFile()), damaged) << "the damaged table was written to";
  EXPECT_EQ(testkit::ReadFile(log), goodLog);
  EXPECT_EQ(testkit::ReadFile(StoreFile()), storeBefore);

  // The good file back: E is there again, and everything works.
  WriteFile(TableFile(), good);
  std::vector<Listed> drives = Query();
  EXPECT_EQ(Letters(drives), "E");
  ExpectDocsOnE(drives);
  ASSERT_TRUE(Added(On("f", "team")));
  EXPECT_TRUE(Deleted("e"));
  EXPECT_TRUE(Deleted("f"));
}

TEST_F(Robustness, ConnectionTableFolderThatMayNotBeUsed) {
  const std::string folder = TableFolder();
  const std::string aside = box_->runtime + "/aside";
  const std::vector<std::pair<std::string, std::function<void()>>> replacements = {
      {"a link to a good folder", [&] { ASSERT_EQ(::symlink(aside.c_str(), folder.c_str()), 0); }},
      {"a file", [&] { WriteFile(folder, "not a folder"); }},
      {"open to others", [&] {
         ASSERT_EQ(::rename(aside.c_str(), folder.c_str()), 0);
         ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
       }},
  };
  for (const auto& replacement : replacements) {
    SCOPED_TRACE(replacement.first);
    ASSERT_TRUE(Added(On("e", "pub\\docs")));
    const std::string table = testkit::ReadFile(TableFile());
    ASSERT_EQ(::rename(folder.c_str(), aside.c_str()), 0);
    replacement.second();

    const Traced add = RunTraced(*box_, On("f", "team").Args());
    ExpectAddFailed(add.run, 5);
    if (add.traced) {
      EXPECT_TRUE(NoNetworkAtAll(add));
    }
    EXPECT_EQ(Letters(Query()), "");
    const testkit::Run del = Run({"--del", "--drive=e", "--outformat=json"});
    EXPECT_EQ(del.status, kFailureStatus);
    EXPECT_NE(del.out.find("\"message\":\"delete failed ,not found drive\""), std::string::npos) << del.out;

    // Put the folder back as it was.
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    } else {
      ASSERT_EQ(::unlink(folder.c_str()), 0);
      ASSERT_EQ(::rename(aside.c_str(), folder.c_str()), 0);
    }
    EXPECT_EQ(testkit::ReadFile(TableFile()), table);
    std::vector<Listed> drives = Query();
    EXPECT_EQ(Letters(drives), "E");
    ExpectDocsOnE(drives);
    ASSERT_TRUE(Added(On("f", "team")));
    EXPECT_TRUE(Deleted("e"));
    EXPECT_TRUE(Deleted("f"));
  }
}

TEST_F(Robustness, ConnectionTableThatCannotBeWritten) {
  ASSERT_TRUE(Added(On("e", "pub\\docs")));
  // The folder and every file in it, made unwritable even for root.
  const std::string folder = TableFolder();
  std::vector<std::string> locked;
  Cleanup unlock{[&] {
    for (const std::string& path : locked) SetImmutable(path, false);
  }};
  DIR* dir = ::opendir(folder.c_str());
  ASSERT_NE(dir, nullptr);
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && SetImmutable(folder + "/" + name, true)) locked.push_back(folder + "/" + name);
  }
  ::closedir(dir);
  if (!SetImmutable(folder, true)) GTEST_SKIP() << "chattr +i does not work here: no folder is unwritable for root";
  locked.push_back(folder);

  // The new connection cannot be kept: the add fails and leaves no row. The
  // query lists what it can read; a table kept with a log may not be
  // readable either.
  const Traced add = RunTraced(*box_, On("f", "team").Args());
  ExpectAddFailed(add.run);
  EXPECT_TRUE(OnlyLoopbackServer(add));
  std::vector<Listed> drives = Query();
  const std::string listed = Letters(drives);
  EXPECT_TRUE(listed == "E" || listed == "") << listed;
  if (listed == "E") ExpectDocsOnE(drives);

  // Nor can E's row go: the delete fails and E stays. (Its record is
  // deleted before the connection, and stays deleted.)
  const testkit::Run del = Run({"--del", "--drive=e"});
  EXPECT_EQ(del.out, listed == "E" ? "delete failed ,unmount fault\n" : "delete failed ,not found drive\n");
  EXPECT_EQ(del.status, kFailureStatus);
  EXPECT_EQ(Letters(Query()), listed);

  for (const std::string& path : locked) ASSERT_TRUE(SetImmutable(path, false));
  locked.clear();
  ASSERT_TRUE(Added(On("f", "team")));
  EXPECT_EQ(Letters(Query()), "EF");
  EXPECT_TRUE(Deleted("e"));
  EXPECT_TRUE(Deleted("f"));
  EXPECT_EQ(Run({}).out, kHeader + ".\n");

  // A folder that cannot take its first table: the same failure, no table.
  ASSERT_EQ(std::system(("rm -f '" + folder + "'/*").c_str()), 0);
  ASSERT_TRUE(SetImmutable(folder, true));
  locked.push_back(folder);
  const Traced first = RunTraced(*box_, On("f", "team").Args());
  ExpectAddFailed(first.run, 5);
  EXPECT_TRUE(OnlyLoopbackServer(first));
  EXPECT_EQ(Entries(folder), 0u);
  EXPECT_EQ(Letters(Query()), "");
  ASSERT_TRUE(SetImmutable(folder, false));
  locked.clear();
  ASSERT_TRUE(Added(On("f", "team")));
  EXPECT_TRUE(Deleted("f"));
}

// ===========================================================================
// Bad input

TEST_F(Robustness, OverlongValues) {
  struct Case {
    const char* what;
    std::function<void(AddValues&)> change;
    unsigned long error;
    bool network;  // whether the server is asked at all
  };
  // "\\127.0.0.1\" is 12 characters: a location of 247 gives a remote name of
  // 259 characters, the longest there is.
  const std::vector<Case> cases = {
      {"host of 300", [](AddValues& v) { v.host = std::string(300, 'h'); }, 206, false},
      {"location of 300", [](AddValues& v) { v.location = "pub\\" + std::string(296, 'l'); }, 206, false},
      {"remote name of 260", [](AddValues& v) { v.location = "pub\\" + std::string(244, 'l'); }, 206, false},
      {"remote name of 259", [](AddValues& v) { v.location = "pub\\" + std::string(243, 'l'); }, 67, true},
      {"share name of 247", [](AddValues& v) { v.location = std::string(247, 's'); }, 67, true},
      {"user of 300", [](AddValues& v) { v.user = std::string(300, 'u'); }, 87, false},
      {"password of 300", [](AddValues& v) { v.password = std::string(300, 'p'); }, 87, false},
      {"domain of 300", [](AddValues& v) { v.domain = std::string(300, 'd'); }, 87, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AddValues values;
    c.change(values);
    const Traced add = RunTraced(*box_, values.Args());
    ExpectAddFailed(add.run, c.error);
    if (add.traced) {
      EXPECT_TRUE(c.network ? OnlyLoopbackServer(add) : NoNetworkAtAll(add));
      EXPECT_EQ(add.peers.empty(), !c.network);
    }
  }
  EXPECT_EQ(Letters(Query()), "");
  EXPECT_FALSE(Exists(StoreFile()));

  // Long label and identifiers: the record takes them; the query reads values
  // of up to 4096 bytes and lists the drive with the defaults beyond that.
  AddValues fits = On("e", "pub\\docs", std::string(4096, 'v'));
  fits.userid = std::string(4096, 'u');
  fits.dsid = std::string(4096, 'd');
  AddValues beyond = On("f", "team", std::string(5000, 'V'));
  beyond.userid = std::string(5000, 'U');
  beyond.dsid = std::string(5000, 'D');
  for (const AddValues* values : {&fits, &beyond}) {
    const testkit::Run add = Run(values->Args());
    EXPECT_EQ(add.out, "{\"data\":{},\"errorCode\":0,\"message\":\"add success\",\"success\":true}\n") << values->drive;
    EXPECT_EQ(add.status, 0);
  }
  std::vector<Listed> drives = Query();
  ASSERT_EQ(Letters(drives), "EF");
  EXPECT_EQ(drives[0].volumename, fits.volume);
  EXPECT_EQ(drives[0].userid, fits.userid);
  EXPECT_EQ(drives[0].dsid, fits.dsid);
  EXPECT_EQ(drives[1].volumename, "team");
  EXPECT_EQ(drives[1].userid, "dummy");
  EXPECT_EQ(drives[1].dsid, "dummy");
  EXPECT_EQ(Read("##127.0.0.1#team", "_VkUserId"), "<none>");  // stored, but too long to read back
  const testkit::Run form = Run({});
  EXPECT_EQ(form.status, 0);
  EXPECT_EQ(testkit::Lines(form.out).size(), 4u);

  // A label too long to be read back is not one to delete by.
  const testkit::Run byVolume = Run({"--del", "--volume", beyond.volume});
  EXPECT_EQ(byVolume.out, "delete failed ,not found drive\n");
  EXPECT_TRUE(Deleted("e"));
  EXPECT_TRUE(Deleted("f"));
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", "_VkUserId"), "<none>");

  // The same long value written into its option word: taken, or refused by the
  // command line parser, but either way one clear envelope.
  const testkit::Run oneWord = Run({"--add", "--domain=", "--user=" + fits.user, "--password=" + fits.password,
                                "--host=127.0.0.1", "--location=team", "--drive=g", "--volume=V",
                                "--userid=" + std::string(5000, 'U'), "--dsid=1", "--outformat=json"});
  Poco::JSON::Object::Ptr envelope;
  ASSERT_TRUE(Envelope(oneWord.out, envelope));
  const std::string message = envelope->getValue<std::string>("message");
  EXPECT_TRUE(message == "add success" || message.rfind("error parsing options: ", 0) == 0) << message;
  EXPECT_EQ(oneWord.status, envelope->getValue<bool>("success") ? 0 : kFailureStatus);
  if (oneWord.status == 0) {
    EXPECT_TRUE(Deleted("g"));
  }
  EXPECT_EQ(Letters(Query()), "");
}

TEST_F(Robustness, ControlAndHighBytesInEveryTextOption) {
  const std::vector<std::pair<const char*, std::string>> texts = {
      {"tab", "\t"},       {"line end", "\n"},          {"SOH", "\x01"},
      {"DEL", "\x7f"},     {"UTF-8 e acute", "\xC3\xA9"}, {"not UTF-8", "\xFF\xFE"},
  };
  using Field = std::string AddValues::*;
  const std::vector<std::pair<const char*, Field>> fields = {
      {"domain", &AddValues::domain},     {"user", &AddValues::user},     {"password", &AddValues::password},
      {"host", &AddValues::host},         {"location", &AddValues::location}, {"drive", &AddValues::drive},
      {"volume", &AddValues::volume},     {"userid", &AddValues::userid}, {"dsid", &AddValues::dsid},
  };
  for (const auto& field : fields) {
    for (const auto& text : texts) {
      SCOPED_TRACE(std::string(field.first) + " with " + text.first);
      AddValues values;
      std::string& value = values.*field.second;
      // The drive's first character decides; elsewhere the bytes sit inside.
      value = field.second == &AddValues::drive ? text.second + "e" : value + text.second + "x";
      const bool utf8 = IsUtf8(value);

      const Traced add = RunTraced(*box_, values.Args());
      Poco::JSON::Object::Ptr envelope;
      ASSERT_TRUE(Envelope(add.run.out, envelope));
      EXPECT_EQ(add.run.err, "");
      const bool success = envelope->getValue<bool>("success");
      EXPECT_EQ(add.run.status, success ? 0 : kFailureStatus);
      const std::string message = envelope->getValue<std::string>("message");
      if (field.second == &AddValues::drive) {
        EXPECT_EQ(message, "drive arg wrong");
      } else {
        EXPECT_EQ(message, success ? "add success" : kAddFailed);
      }
      if (add.traced) {
        EXPECT_TRUE(OnlyLoopbackServer(add));
      }
      // Never a host or path that holds a control character or other bytes:
      // refused before anything reaches the network.
      const unsigned char first = static_cast<unsigned char>(text.second[0]);
      const bool control = first < 0x20 || first == 0x7F;
      if (field.second == &AddValues::host || field.second == &AddValues::drive ||
          (control && (field.second == &AddValues::location || field.second == &AddValues::user ||
                       field.second == &AddValues::domain))) {
        EXPECT_FALSE(success);
        if (add.traced) {
          EXPECT_TRUE(NoNetworkAtAll(add));
        }
      }
      // The label and the identifiers only ride along: the add works whatever
      // their bytes.
      if (field.second == &AddValues::volume || field.second == &AddValues::userid ||
          field.second == &AddValues::dsid) {
        EXPECT_TRUE(success) << box_->AppLog();
      }

      // The list holds the drive exactly when the add succeeded, as strict
      // UTF-8 whatever the bytes given: those that are not UTF-8 in this
      // locale become U+FFFD.
      std::vector<Listed> drives;
      const testkit::Run query = Run({"--outformat=json"});
      ASSERT_TRUE(QueryList(query, drives)) << query.out;
      if (!success) {
        EXPECT_EQ(Letters(drives), "");
        continue;
      }
      ASSERT_EQ(Letters(drives), "E");
      if (field.second == &AddValues::userid || field.second == &AddValues::dsid) {
        const std::string replaced = value.substr(0, value.size() - 3) + "\xEF\xBF\xBD\xEF\xBF\xBDx";
        EXPECT_EQ(field.second == &AddValues::userid ? drives[0].userid : drives[0].dsid, utf8 ? value : replaced);
      }
      if (field.second == &AddValues::volume) {
        EXPECT_EQ(drives[0].volumename, utf8 ? value : "Docs\xEF\xBF\xBD\xEF\xBF\xBDx");
      }
      const testkit::Run form = Run({});
      EXPECT_EQ(form.status, 0);
      EXPECT_EQ(form.out.substr(0, kHeader.size()), kHeader);
      EXPECT_EQ(form.out.substr(form.out.size() - 3), "\n.\n");

      // Delete by the very same label, bytes and all.
      const testkit::Run del = Run({"--del", "--volume", values.volume, "--outformat=json"});
      EXPECT_EQ(del.out, "{\"data\":{},\"errorCode\":0,\"message\":\"delete success\",\"success\":true}\n");
      EXPECT_EQ(del.status, 0);
      EXPECT_EQ(Letters(Query()), "");
    }
  }

  // Delete and query given such bytes, with a drive in place.
  ASSERT_TRUE(Added(On("e", "pub\\docs")));
  for (const auto& text : texts) {
    SCOPED_TRACE(text.first);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--del", "--volume", "Docs" + text.second},
          std::vector<std::string>{"--del", "--drive", text.second + "e"},
          std::vector<std::string>{"--del", "--drive", text.second, "--volume", text.second}}) {
      std::vector<std::string> json = args;
      json.push_back("--outformat=json");
      const testkit::Run del = Run(json);
      Poco::JSON::Object::Ptr envelope;
      ASSERT_TRUE(Envelope(del.out, envelope));
      EXPECT_EQ(envelope->getValue<std::string>("message"), "delete failed ,not found drive");
      EXPECT_EQ(del.status, kFailureStatus);
    }
    const testkit::Run query = Run({"--volume", text.second, "--host", text.second, "--outformat=json"});
    std::vector<Listed> drives;
    ASSERT_TRUE(QueryList(query, drives));
    ExpectDocsOnE(drives);
  }
  // An option word with a line end in it is not one the parser matches: a
  // parse error, with the line end escaped in the envelope.
  const testkit::Run split = Run({"--del", "--volume=Do\ncs", "--outformat=json"});
  Poco::JSON::Object::Ptr envelope;
  ASSERT_TRUE(Envelope(split.out, envelope));
  EXPECT_EQ(envelope->getValue<std::string>("message").rfind("error parsing options: ", 0), 0u) << split.out;
  EXPECT_EQ(split.status, kFailureStatus);
  EXPECT_TRUE(Deleted("e"));
}

TEST_F(Robustness, HostWithPortPathOrAccountAndLocationsThatClimb) {
  struct Case {
    std::string host;
    std::string location;
    unsigned long error;
    bool network;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1:445", "pub", 53, false},
      {"127.0.0.1:139", "pub", 53, false},
      {"smtest@127.0.0.1", "pub", 53, false},
      {"smtest:Sm-Test-Pass1@127.0.0.1", "pub", 53, false},
      {"[::1]", "pub", 53, false},
      {"::1", "pub", 53, false},
      {"127.0.0.1 ", "pub", 53, false},
      {"smb://127.0.0.1", "pub", 53, false},
      {"..", "pub", 53, false},
      // A path in the host is a path on that host: here a share "x" it lacks.
      {"127.0.0.1/x", "pub", 67, true},
      {"127.0.0.1\\x", "pub", 67, true},
      // A location never leads to another server.
      {"127.0.0.1", "\\\\10.0.0.1\\pub", 67, true},
      {"127.0.0.1", "//10.0.0.1/pub", 67, true},
      {"127.0.0.1", "pub\\..\\team", 67, false},
      {"127.0.0.1", "pub/../team", 67, false},
      {"127.0.0.1", "..\\..\\etc", 67, false},
      {"127.0.0.1", "pub\\docs\\..", 67, false},
      {"127.0.0.1", "..", 67, false},
      {"127.0.0.1", "pub\\docs:stream", 67, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host + " " + c.location);
    AddValues values;
    values.host = c.host;
    values.location = c.location;
    const Traced add = RunTraced(*box_, values.Args());
    ExpectAddFailed(add.run, c.error);
    if (add.traced) {
      EXPECT_TRUE(c.network ? OnlyLoopbackServer(add) : NoNetworkAtAll(add));
      EXPECT_EQ(add.peers.empty(), !c.network);
    }
  }
  EXPECT_EQ(Letters(Query()), "");
  EXPECT_FALSE(Exists(StoreFile()));

  // A host written with the share in it connects to that share on that host,
  // and only there; its record is found, listed and deleted like any other.
  AddValues values;
  values.host = "127.0.0.1\\pub";
  values.location = "docs";
  const Traced add = RunTraced(*box_, values.Args());
  EXPECT_EQ(add.run.out, "{\"data\":{},\"errorCode\":0,\"message\":\"add success\",\"success\":true}\n");
  if (add.traced) {
    EXPECT_TRUE(OnlyLoopbackServer(add));
  }
  std::vector<Listed> drives = Query();
  ExpectDocsOnE(drives);
  EXPECT_TRUE(Deleted("e"));
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", "_LabelFromReg"), "<none>");
}

// A run under a umask that gives nobody any rights (0777), or everybody all
// of them (0), by an ordinary user (root ignores modes, so as root the runs
// are made as nobody): the private folders and files get 0700 and 0600, and
// later adds, the query and the deletes all work.
TEST_F(Robustness, AnyUmaskLeavesPrivateModesAndNothingBlocked) {
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(std::system(("chown -R 65534:65534 '" + box_->root + "'").c_str()), 0);
  }
  const auto as = [&](const std::string& mask, const std::vector<std::string>& args) {
    std::vector<std::string> shell{"-c", "umask " + mask + " && exec \"$0\" \"$@\"", SHAREMAPPER_BINARY};
    shell.insert(shell.end(), args.begin(), args.end());
    if (!root) return box_->Command("/bin/sh", shell);
    std::vector<std::string> full{"--reuid=65534", "--regid=65534", "--clear-groups", "--", "/bin/sh"};
    full.insert(full.end(), shell.begin(), shell.end());
    return box_->Command("/usr/bin/setpriv", full);
  };
  const auto modeOf = [](const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
  };
  for (const std::string mask : {"0777", "000"}) {
    SCOPED_TRACE("umask " + mask);
    ASSERT_EQ(std::system(("rm -rf '" + box_->config + "/sharemapper' '" + TableFolder() + "'").c_str()), 0);
    for (const AddValues& values : {On("e", "pub\\docs"), On("f", "team", "Team")}) {
      const testkit::Run add = as(mask, values.Args(false));
      EXPECT_EQ(add.out, "add success\n") << box_->AppLog();
      EXPECT_EQ(add.status, 0);
    }
    std::vector<Listed> drives;
    EXPECT_TRUE(QueryList(as(mask, {"--outformat=json"}), drives));
    EXPECT_EQ(Letters(drives), "EF");
    ExpectDocsOnE(drives);
    for (const std::string& path : {box_->config + "/sharemapper", TableFolder()}) {
      EXPECT_EQ(modeOf(path), 0700u) << path;
    }
    for (const std::string& path : {StoreFile(), TableFile()}) EXPECT_EQ(modeOf(path), 0600u) << path;
    for (const std::string drive : {"e", "f"}) {
      const testkit::Run del = as(mask, {"--del", "--drive=" + drive});
      EXPECT_EQ(del.out, "delete success\n");
      EXPECT_EQ(del.status, 0);
    }
    EXPECT_TRUE(QueryList(as(mask, {"--outformat=json"}), drives));
    EXPECT_EQ(Letters(drives), "");
  }
}

// ===========================================================================
// What a caller or another local user can get out of a run

// However the location is spelled, a delete removes that drive's record and
// no other, and a later add of the share starts without stale values.
TEST_F(Robustness, DeleteRemovesTheRecordOfEverySpelling) {
  AddValues other = On("f", "pub\\docs", "Other");
  other.dsid = "88";
  for (const char* spelling :
       {"pub/docs", "pub\\.\\docs", "pub\\\\docs", "pub\\docs\\", "pub//docs", "pub\\docs/", "pub\\docs\\."}) {
    ASSERT_TRUE(Added(other));
    ASSERT_TRUE(Added(On("e", spelling))) << spelling;
    ASSERT_TRUE(Deleted("e")) << spelling;
    std::vector<Listed> drives = Query();
    ASSERT_EQ(Letters(drives), "F") << spelling;
    EXPECT_EQ(drives[0].volumename, "Other") << spelling;
    EXPECT_EQ(drives[0].dsid, "88") << spelling;

    // An empty dsid connects but writes no dsid: nothing older may show.
    AddValues again = On("e", spelling);
    again.dsid = "";
    Run(again.Args());
    drives = Query();
    const Listed* e = FindDrive(drives, "E:");
    ASSERT_NE(e, nullptr) << spelling;
    EXPECT_EQ(e->dsid, "dummy") << spelling;
    EXPECT_TRUE(Deleted("e"));
    EXPECT_TRUE(Deleted("f"));
  }
}

namespace {

// Starts the program with args in the sandbox without waiting for it, with
// core files allowed (written to its working directory).
pid_t StartDumpable(const Sandbox& box, const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (::chdir(box.cwd.c_str()) != 0) ::_exit(127);
  struct rlimit unlimited {RLIM_INFINITY, RLIM_INFINITY};
  ::setrlimit(RLIMIT_CORE, &unlimited);
  const int null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, 1);
  ::dup2(null, 2);
  std::vector<std::string> words = args;
  words.insert(words.begin(), SHAREMAPPER_BINARY);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  ::execv(SHAREMAPPER_BINARY, argv.data());
  ::_exit(127);
}

}  // namespace

// Another local user polling /proc/<pid>/cmdline never sees the password
// once the options are read, and a crash leaves no core file with it.
TEST_F(Robustness, PasswordLeavesTheCommandLineAndCoreFiles) {
  const std::string password = smtest::SambaServer::Password();
  for (int run = 0; run < 5; ++run) {
    const pid_t pid = StartDumpable(*box_, On("e", "pub\\docs").Args());
    ASSERT_GT(pid, 0);
    std::size_t reads = 0;
    bool concealed = false;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      const std::string line = testkit::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
      if (line.find("--password") == std::string::npos) continue;  // before exec
      ++reads;
      if (line.find(std::string(password.size(), 'X')) != std::string::npos) concealed = true;
      if (concealed) {
        EXPECT_EQ(line.find(password), std::string::npos) << "read " << reads;
      }
    }
    EXPECT_TRUE(concealed) << "no read after the options were read, in " << reads;
    Deleted("e");
  }

  if (testkit::ReadFile("/proc/sys/kernel/core_pattern").rfind("|", 0) == 0) {
    GTEST_SKIP() << "core files go to a program here, not to the working directory";
  }
  bool crashed = false;
  for (int attempt = 0; attempt < 5 && !crashed; ++attempt) {
    const pid_t pid = StartDumpable(*box_, On("e", "pub\\docs").Args());
    ASSERT_GT(pid, 0);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      const std::string line = testkit::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
      if (line.find(std::string(password.size(), 'X')) == std::string::npos) continue;
      ::kill(pid, SIGABRT);
      ::waitpid(pid, &status, 0);
      break;
    }
    crashed = WIFSIGNALED(status);
    Deleted("e");
  }
  ASSERT_TRUE(crashed);
  for (const auto& entry : std::filesystem::directory_iterator(box_->cwd)) {
    if (entry.path().filename().string().rfind("core", 0) != 0) continue;
    EXPECT_EQ(testkit::ReadFile(entry.path().string()).find(password), std::string::npos) << entry.path();
  }
}

// libsmbclient writes notes of its own to standard output ("Unable to follow
// dfs referral", "Could not resolve ...") and, with the debug level a user's
// smb.conf may ask for, pages of debug lines. Here a DFS link leads to a
// loopback address where nothing listens, once inside the recycle bin that
// the add empties and once as the location itself, with the library's most
// verbose level set in every configuration a user could hand it: each run
// still prints its one result line and nothing on standard error.
TEST_F(Robustness, TheSmbLibraryPrintsNothingWhateverItsSettings) {
  const std::string home = box_->root + "/home";
  ASSERT_EQ(std::system(("mkdir -p '" + home + "/.smb'").c_str()), 0);
  WriteFile(home + "/.smb/smb.conf", "[global]\n  log level = 10\n  debug stdout = yes\n");
  box_->env["HOME"] = home;
  box_->env["SMB_CONF_PATH"] = home + "/.smb/smb.conf";

  struct Case {
    AddValues values;
    std::string out;
  };
  const std::vector<Case> cases = {
      {On("e", "dfs"), "{\"data\":{},\"errorCode\":0,\"message\":\"add success\",\"success\":true}\n"},
      {On("f", "dfs\\away"), "{\"data\":{},\"errorCode\":20000,\"message\":\"" + kAddFailed + "\",\"success\":false}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values.location);
    const Traced add = RunTraced(*box_, c.values.Args());
    EXPECT_EQ(add.run.out, c.out);
    EXPECT_EQ(add.run.err, "");
    if (add.traced) {
      // The referral was followed, and to the loopback range only.
      bool referral = false;
      for (const std::string& peer : add.peers) {
        EXPECT_EQ(peer.rfind("127.", 0), 0u) << peer;
        referral = referral || peer.rfind("127.0.0.9:", 0) == 0;
      }
      EXPECT_TRUE(referral);
    }
  }
  const testkit::Run form = Run({});
  EXPECT_EQ(form.err, "");
  EXPECT_EQ(testkit::Lines(form.out).size(), 3u) << form.out;  // the header, E, "."
  const testkit::Run del = Run({"--del", "--drive=e", "--outformat=json"});
  EXPECT_EQ(del.out, "{\"data\":{},\"errorCode\":0,\"message\":\"delete success\",\"success\":true}\n");
  EXPECT_EQ(del.err, "");
}
