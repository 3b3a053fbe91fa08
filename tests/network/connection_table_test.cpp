// The connection table: where it lives, what it refuses, the letter and
// credential rules, and its behaviour under concurrent writers.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/private_table.h"
#include "platform/platform.h"
#include "platform/posix/drives.h"
#include "support/logger_capture.h"

namespace {

using platform::posix::ConnectionRow;
namespace err = platform::err;
namespace posix = platform::posix;

ConnectionRow Row(char letter, const std::string& host, const std::string& share, const std::string& account) {
  ConnectionRow row;
  row.letter = letter;
  row.host = host;
  row.share = share;
  row.remoteName = "\\\\" + host + "\\" + share;
  row.account = account;
  return row;
}

class ConnectionTableTest : public nettest::PrivateTableTest {};

TEST_F(ConnectionTableTest, ReadingAnAbsentTableCreatesNothing) {
  EXPECT_EQ(0u, posix::UserDrives().LetterMask());
  EXPECT_EQ(0u, platform::system().LogicalDrives());
  ConnectionRow row;
  EXPECT_EQ(err::kNotConnected, posix::UserDrives().Find('E', row));
  EXPECT_EQ(err::kNotConnected, posix::UserDrives().Delete('E', ""));
  EXPECT_EQ(err::kSuccess, posix::UserDrives().Check(Row('E', "srv", "pub", "bob")));
  EXPECT_FALSE(testkit::Exists(TableFolder()));
}

TEST_F(ConnectionTableTest, RowsRoundTripAndFilesArePrivate) {
  ConnectionRow e = Row('E', "srv", "pub", "CORP\\bob");
  e.remoteName = "\\\\srv\\pub\\docs";
  ASSERT_EQ(err::kSuccess, posix::UserDrives().Insert(e));
  ASSERT_EQ(err::kSuccess, posix::UserDrives().Insert(Row('Z', "other", "team", "bob")));

  EXPECT_EQ(0700u, testkit::ModeOf(TableFolder()));
  EXPECT_EQ(0600u, testkit::ModeOf(TableFolder() + "/connections.db"));
  EXPECT_EQ((1u << 4) | (1u << 25), posix::UserDrives().LetterMask());
  EXPECT_EQ((1u << 4) | (1u << 25), platform::system().LogicalDrives());

  // A second process (a fresh open) sees the same rows.
  posix::UserDrives().CloseTableForTests();
  ConnectionRow found;
  ASSERT_EQ(err::kSuccess, posix::UserDrives().Find('E', found));
  EXPECT_EQ("\\\\srv\\pub\\docs", found.remoteName);
  EXPECT_EQ("srv", found.host);
  EXPECT_EQ("pub", found.share);
  EXPECT_EQ("CORP\\bob", found.account);

  // A delete that names another remote name than the row's leaves it.
  EXPECT_EQ(err::kNotConnected, posix::UserDrives().Delete('E', "\\\\srv\\pub"));
  EXPECT_EQ(err::kSuccess, posix::UserDrives().Delete('E', "\\\\srv\\pub\\docs"));
  EXPECT_EQ(err::kNotConnected, posix::UserDrives().Delete('E', ""));
  EXPECT_EQ(err::kNotConnected, posix::UserDrives().Find('E', found));
  EXPECT_EQ(1u << 25, posix::UserDrives().LetterMask());
}

TEST_F(ConnectionTableTest, LetterInUseAndCredentialConflict) {
  ASSERT_EQ(err::kSuccess, posix::UserDrives().Insert(Row('E', "Srv", "pub", "CORP\\Bob")));

  EXPECT_EQ(err::kAlreadyAssigned, posix::UserDrives().Check(Row('E', "elsewhere", "x", "eve")));
  EXPECT_EQ(err::kAlreadyAssigned, posix::UserDrives().Insert(Row('E', "elsewhere", "x", "eve")));
  // Same server (any case), other account: Windows' one-credential rule.
  EXPECT_EQ(err::kSessionCredentialConflict, posix::UserDrives().Check(Row('F', "sRV", "team", "CORP\\eve")));
  EXPECT_EQ(err::kSessionCredentialConflict, posix::UserDrives().Insert(Row('F', "srv", "team", "bob")));
  // Same server with the same account (any case), or another server: fine.
  EXPECT_EQ(err::kSuccess, posix::UserDrives().Insert(Row('F', "SRV", "team", "corp\\bob")));
  EXPECT_EQ(err::kSuccess, posix::UserDrives().Insert(Row('G', "other", "pub", "eve")));

  ConnectionRow found;
  ASSERT_EQ(err::kSuccess, posix::UserDrives().Find('E', found));
  EXPECT_EQ("pub", found.share);  // the refused rows changed nothing
}

TEST_F(ConnectionTableTest, RacingWritersGetOneLetterOnce) {
  constexpr int kWriters = 6;
  posix::UserDrives().CloseTableForTests();  // nothing open across fork
  int gate[2];
  ASSERT_EQ(0, ::pipe(gate));
  std::vector<pid_t> children;
  for (int i = 0; i < kWriters; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char go;
      if (::read(gate[0], &go, 1) != 0) _exit(100);
      const platform::ErrorCode code =
          posix::UserDrives().Insert(Row('K', "srv", "share" + std::to_string(i), "bob"));
      _exit(code == err::kSuccess ? 0 : code == err::kAlreadyAssigned ? 1 : 2);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);  // all start at once
  int winners = 0, losers = 0;
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 0) ++winners;
    if (WEXITSTATUS(status) == 1) ++losers;
  }
  EXPECT_EQ(1, winners);
  EXPECT_EQ(kWriters - 1, losers);
  EXPECT_EQ(1u << ('K' - 'A'), posix::UserDrives().LetterMask());
}

TEST_F(ConnectionTableTest, ADamagedTableIsReportedAndKept) {
  ASSERT_EQ(0, ::mkdir(TableFolder().c_str(), 0700));
  const std::string file = TableFolder() + "/connections.db";
  const std::string garbage(4096, 'x');
  testkit::WriteFile(file, garbage);
  ::chmod(file.c_str(), 0600);

  EXPECT_EQ(err::kCantOpen, posix::UserDrives().Insert(Row('E', "srv", "pub", "bob")));
  EXPECT_EQ(0u, posix::UserDrives().LetterMask());
  ConnectionRow row;
  EXPECT_EQ(err::kCantOpen, posix::UserDrives().Find('E', row));
  EXPECT_EQ(garbage, testkit::ReadFile(file));
}

// A table made by an earlier version, with a column of creation times no
// run reads, takes rows and gives them back as before.
TEST_F(ConnectionTableTest, ATableWithTheOldCreationColumnStillWorks) {
  ASSERT_EQ(0, ::mkdir(TableFolder().c_str(), 0700));
  const std::string file = TableFolder() + "/connections.db";
  ASSERT_TRUE(testkit::WriteFile(file, ""));
  ::chmod(file.c_str(), 0600);
  {
    posix::Database old;
    ASSERT_EQ(0, old.Open(file, 0));
    ASSERT_EQ(0, old.Exec("CREATE TABLE connections (letter TEXT PRIMARY KEY NOT NULL, remote_name TEXT NOT NULL,"
                          " host TEXT NOT NULL, share TEXT NOT NULL, account TEXT NOT NULL,"
                          " created INTEGER NOT NULL DEFAULT (strftime('%s','now')))"));
  }
  ASSERT_EQ(err::kSuccess, posix::UserDrives().Insert(Row('E', "srv", "pub", "bob")));
  ConnectionRow found;
  ASSERT_EQ(err::kSuccess, posix::UserDrives().Find('E', found));
  EXPECT_EQ("pub", found.share);
  EXPECT_EQ(err::kSuccess, posix::UserDrives().Delete('E', ""));
}

// The umask of the run never decides the modes: 0700 and 0600 under 0777
// (which would leave 0000, stopping every later run) and under 0.
TEST_F(ConnectionTableTest, ModesArePrivateWhateverTheUmask) {
  for (const mode_t mask : {mode_t{0777}, mode_t{0}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    posix::UserDrives().CloseTableForTests();
    std::filesystem::remove_all(TableFolder());
    const mode_t old = ::umask(mask);
    const platform::ErrorCode inserted = posix::UserDrives().Insert(Row('E', "srv", "pub", "bob"));
    ::umask(old);
    ASSERT_EQ(err::kSuccess, inserted);
    EXPECT_EQ(0700u, testkit::ModeOf(TableFolder()));
    EXPECT_EQ(0600u, testkit::ModeOf(TableFolder() + "/connections.db"));
    posix::UserDrives().CloseTableForTests();
    ConnectionRow found;
    EXPECT_EQ(err::kSuccess, posix::UserDrives().Find('E', found));
    EXPECT_EQ(err::kSuccess, posix::UserDrives().Delete('E', ""));
  }
}

// A folder and table of ours that lost their owner's rights (an earlier run
// under umask 0777) get them back; the rows are still there.
TEST_F(ConnectionTableTest, OwnFilesWithoutTheOwnersRightsAreRepaired) {
  ASSERT_EQ(err::kSuccess, posix::UserDrives().Insert(Row('E', "srv", "pub", "bob")));
  posix::UserDrives().CloseTableForTests();
  const std::string file = TableFolder() + "/connections.db";
  ASSERT_EQ(0, ::chmod(file.c_str(), 0));
  ASSERT_EQ(0, ::chmod(TableFolder().c_str(), 0));
  ConnectionRow found;
  EXPECT_EQ(err::kSuccess, posix::UserDrives().Insert(Row('F', "srv", "team", "bob")));
  EXPECT_EQ(0700u, testkit::ModeOf(TableFolder()));
  EXPECT_EQ(0600u, testkit::ModeOf(file));
  EXPECT_EQ(err::kSuccess, posix::UserDrives().Find('E', found));
  EXPECT_EQ((1u << 4) | (1u << 5), posix::UserDrives().LetterMask());
}

// Without XDG_RUNTIME_DIR the table lives in a folder of the user's own
// below the temporary directory.
class TemporaryFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    posix::UserDrives().CloseTableForTests();
  }
  void TearDown() override { posix::UserDrives().CloseTableForTests(); }

  std::string Folder() const { return tmp_.path() + "/sharemapper-" + std::to_string(::geteuid()); }

  testkit::TempDir tmp_;
  testkit::ScopedEnv noRuntime_{"XDG_RUNTIME_DIR", nullptr};
  testkit::ScopedEnv tmpdir_{"TMPDIR", tmp_.path().c_str()};
};

TEST_F(TemporaryFolderTest, CreatedPrivateWhenNeeded) {
  EXPECT_EQ(Folder(), posix::Drives::TableFolder());
  EXPECT_EQ(0u, posix::UserDrives().LetterMask());
  EXPECT_FALSE(testkit::Exists(Folder()));
  const mode_t old = ::umask(0);
  EXPECT_EQ(err::kSuccess, posix::UserDrives().Insert(Row('E', "srv", "pub", "bob")));
  ::umask(old);
  EXPECT_EQ(0700u, testkit::ModeOf(Folder()));
  EXPECT_EQ(0600u, testkit::ModeOf(Folder() + "/connections.db"));
}

TEST_F(TemporaryFolderTest, RuntimeFolderOfAnotherUserIsNotUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
  testkit::TempDir foreign;
  ASSERT_EQ(0, ::chown(foreign.path().c_str(), 65534, 65534));
  testkit::ScopedEnv runtime("XDG_RUNTIME_DIR", foreign.path().c_str());
  EXPECT_EQ(Folder(), posix::Drives::TableFolder());
}

TEST_F(TemporaryFolderTest, ALinkInItsPlaceIsRefusedWithADiagnostic) {
  testkit::TempDir target;
  ASSERT_EQ(0, ::chmod(target.path().c_str(), 0700));
  ASSERT_EQ(0, ::symlink(target.path().c_str(), Folder().c_str()));

  testkit::LoggerCapture logged("Sharemapper.Connections");
  EXPECT_EQ(err::kAccessDenied, posix::UserDrives().Insert(Row('E', "srv", "pub", "bob")));
  EXPECT_EQ(0u, posix::UserDrives().LetterMask());
  EXPECT_FALSE(testkit::Exists(target / "connections.db"));
  EXPECT_TRUE(logged.HasError(Folder() + " is a symbolic link", true));
}

// A folder or table of the user's that others may only read (by hand, a
// dotfiles tool, a restore) is made private again with a warning, as is one
// without the owner's own rights; one that group or others may write is
// refused and left as it is.
TEST_F(TemporaryFolderTest, OnlyWhatOthersMayWriteIsRefused) {
  const std::string file = Folder() + "/connections.db";
  const struct {
    mode_t folder, file;
    bool refused;
  } cases[] = {{0755, 0600, false}, {0750, 0644, false}, {0711, 0604, false}, {0500, 0400, false},
               {0777, 0600, true},  {0770, 0600, true},  {0702, 0600, true},  {0700, 0660, true},
               {0755, 0606, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE("folder " + std::to_string(c.folder) + ", file " + std::to_string(c.file));
    posix::UserDrives().CloseTableForTests();
    std::filesystem::remove_all(Folder());
    ASSERT_EQ(err::kSuccess, posix::UserDrives().Insert(Row('E', "srv", "pub", "bob")));
    posix::UserDrives().CloseTableForTests();
    ASSERT_EQ(0, ::chmod(file.c_str(), c.file));
    ASSERT_EQ(0, ::chmod(Folder().c_str(), c.folder));

    testkit::LoggerCapture logged("Sharemapper.Connections");
    ConnectionRow row;
    EXPECT_EQ(c.refused ? err::kAccessDenied : err::kSuccess, posix::UserDrives().Find('E', row));
    EXPECT_EQ(c.refused, logged.HasError("can be written by group or others", true));
    if (c.refused) {
      EXPECT_EQ(c.file, testkit::ModeOf(file));
      continue;
    }
    EXPECT_EQ(0700u, testkit::ModeOf(Folder()));
    EXPECT_EQ(0600u, testkit::ModeOf(file));
    ASSERT_FALSE(logged.messages().empty());
    EXPECT_EQ("WARN", logged.messages().front().level);
  }
  ::chmod(Folder().c_str(), 0700);
}

TEST_F(TemporaryFolderTest, AFolderOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
  ASSERT_EQ(0, ::mkdir(Folder().c_str(), 0700));
  ASSERT_EQ(0, ::chown(Folder().c_str(), 65534, 65534));
  EXPECT_EQ(err::kAccessDenied, posix::UserDrives().Insert(Row('E', "srv", "pub", "bob")));
  EXPECT_EQ(0u, posix::UserDrives().LetterMask());
  EXPECT_FALSE(testkit::Exists(Folder() + "/connections.db"));
}

TEST_F(TemporaryFolderTest, ALinkInPlaceOfTheFileIsRefused) {
  ASSERT_EQ(0, ::mkdir(Folder().c_str(), 0700));
  testkit::TempDir elsewhere;
  const std::string victim = elsewhere / "victim.db";
  ASSERT_EQ(0, ::symlink(victim.c_str(), (Folder() + "/connections.db").c_str()));
  EXPECT_EQ(err::kAccessDenied, posix::UserDrives().Insert(Row('E', "srv", "pub", "bob")));
  EXPECT_FALSE(testkit::Exists(victim));
}

}  // namespace
