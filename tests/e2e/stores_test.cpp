// The key store and the connection table when they cannot be used, running
// the real binary against the loopback Samba server: a store that cannot be
// written or is damaged, a table that is damaged, cannot be written or sits
// in a folder that may not be used, and any umask. Each case must give one
// clear result and the documented exit status, leave what was stored before
// as it was, and let the next run work once the fault is gone.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "disk/mapping_record.h"
#include "platform/errors.h"
#include "samba/connect_trace.h"
#include "samba/samba_sandbox.h"
#include "support/envelope.h"
#include "support/golden.h"
#include "support/runner.h"

using smtest::AddValues;
using smtest::ExpectDocsOnE;
using smtest::NoNetworkAtAll;
using smtest::On;
using smtest::OnlyLoopbackServer;
using smtest::RunTraced;
using smtest::Traced;
using testkit::Cleanup;
using testkit::Entries;
using testkit::FindDrive;
using testkit::kFailureStatus;
using testkit::Letters;
using testkit::Listed;
using testkit::QueryList;
using testkit::SetImmutable;
using testkit::WriteFile;
using VkSharemapper::kValueLabel;
namespace err = platform::err;

// The suite runs in the end-to-end fixture: the server and a sandbox per test.
using Robustness = smtest::SambaSandbox;

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
  EXPECT_EQ(add.out, golden::Envelope("add_failed"));
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
  EXPECT_EQ(form.out.substr(0, golden::QueryHeader().size()), golden::QueryHeader());

  // F has no record to delete: its delete works. E's record cannot be
  // deleted: a failure, although the drive itself is disconnected.
  EXPECT_TRUE(Deleted("f"));
  const testkit::Run del = Run({"--del", "--drive=e"});
  EXPECT_EQ(del.out, golden::FormLine("delete_unmount_fault"));
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
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", kValueLabel), "<none>");
}

TEST_F(Robustness, DamagedKeyStoreIsNeverRewritten) {
  ASSERT_TRUE(Added(On("e", "pub\\docs")));
  const std::string store = StoreFile();
  const std::string good = testkit::ReadFile(store);
  std::string damaged = good;
  for (std::size_t i = 0; i < damaged.size(); i += 7) damaged[i] = static_cast<char>(0xA5 ^ i);
  WriteFile(store, damaged);

  const testkit::Run add = Run(On("f", "team").Args());
  EXPECT_EQ(add.out, golden::Envelope("add_failed"));
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
  EXPECT_EQ(del.out, golden::Envelope("delete_unmount_fault"));
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
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", kValueLabel), "<none>");
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
  ExpectAddFailed(add.run, err::kCantOpen);
  if (add.traced) {
    EXPECT_TRUE(NoNetworkAtAll(add));
  }

  // Nothing can be listed, so nothing is found to delete.
  EXPECT_EQ(Letters(Query()), "");
  EXPECT_EQ(Run({}).out, golden::EmptyQuery());
  const testkit::Run del = Run({"--del", "--drive=e"});
  EXPECT_EQ(del.out, golden::FormLine("delete_not_found"));
  EXPECT_EQ(del.status, kFailureStatus);
  EXPECT_EQ(testkit::ReadFile(TableFile()), damaged) << "the damaged table was written to";
  EXPECT_EQ(testkit::ReadFile(log), goodLog);
  EXPECT_EQ(testkit::ReadFile(StoreFile()), storeBefore);

  // The good file back: E is there again, and everything works.
  WriteFile(TableFile(), good);
  ExpectOnlyEAndWorking();
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
    ExpectAddFailed(add.run, err::kAccessDenied);
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
    ExpectOnlyEAndWorking();
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
  EXPECT_EQ(del.out, listed == "E" ? golden::FormLine("delete_unmount_fault") : golden::FormLine("delete_not_found"));
  EXPECT_EQ(del.status, kFailureStatus);
  EXPECT_EQ(Letters(Query()), listed);

  for (const std::string& path : locked) ASSERT_TRUE(SetImmutable(path, false));
  locked.clear();
  ASSERT_TRUE(Added(On("f", "team")));
  EXPECT_EQ(Letters(Query()), "EF");
  EXPECT_TRUE(Deleted("e"));
  EXPECT_TRUE(Deleted("f"));
  EXPECT_EQ(Run({}).out, golden::EmptyQuery());

  // A folder that cannot take its first table: the same failure, no table.
  ASSERT_EQ(std::system(("rm -f '" + folder + "'/*").c_str()), 0);
  ASSERT_TRUE(SetImmutable(folder, true));
  locked.push_back(folder);
  const Traced first = RunTraced(*box_, On("f", "team").Args());
  ExpectAddFailed(first.run, err::kAccessDenied);
  EXPECT_TRUE(OnlyLoopbackServer(first));
  EXPECT_EQ(Entries(folder), 0u);
  EXPECT_EQ(Letters(Query()), "");
  ASSERT_TRUE(SetImmutable(folder, false));
  locked.clear();
  ASSERT_TRUE(Added(On("f", "team")));
  EXPECT_TRUE(Deleted("f"));
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
      EXPECT_EQ(add.out, golden::FormLine("add_success")) << box_->AppLog();
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
      EXPECT_EQ(del.out, golden::FormLine("delete_success"));
      EXPECT_EQ(del.status, 0);
    }
    EXPECT_TRUE(QueryList(as(mask, {"--outformat=json"}), drives));
    EXPECT_EQ(Letters(drives), "");
  }
}
