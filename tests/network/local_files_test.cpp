// Files on the Linux file system beyond what the seam suite checks on every
// layer: the attributes of each kind of entry, the read-only
// attribute as the owner's write bit, links that are removed without
// touching what they point at, drive paths without a session, and the log's
// file.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/private_table.h"
#include "platform/platform.h"

namespace {

namespace attr = platform::attr;
namespace err = platform::err;

// Every entry of a listing, by name, and the listing's result.
std::map<std::string, std::uint32_t> List(const std::string& dir, platform::ErrorCode& result) {
  std::vector<platform::FileIdEntry> found;
  result = platform::files().ListFileIds(dir, found);
  std::map<std::string, std::uint32_t> entries;
  for (const auto& entry : found) entries[entry.name] = entry.attributes;
  return entries;
}

class LocalFilesTest : public nettest::PrivateTableTest {
 protected:
  void SetUp() override {
    nettest::PrivateTableTest::SetUp();
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_EQ(0, ::mkdir((dir_ / "bin").c_str(), 0755));
    ASSERT_EQ(0, ::mkdir((dir_ / "bin/sub").c_str(), 0755));
    testkit::WriteFile(dir_ / "bin/plain.txt", "x");
    testkit::WriteFile(dir_ / "bin/locked.txt", "x");
    ASSERT_EQ(0, ::chmod((dir_ / "bin/locked.txt").c_str(), 0444));
    ASSERT_EQ(0, ::mkdir((dir_ / "outside").c_str(), 0755));
    testkit::WriteFile(dir_ / "outside/keep.txt", "keep");
    ASSERT_EQ(0, ::symlink((dir_ / "outside").c_str(), (dir_ / "bin/dirlink").c_str()));
    ASSERT_EQ(0, ::symlink((dir_ / "outside/keep.txt").c_str(), (dir_ / "bin/filelink").c_str()));
  }

  platform::Files& files_ = platform::files();
  testkit::TempDir dir_;
};

TEST_F(LocalFilesTest, ListingReportsKinds) {
  platform::ErrorCode result = 1;
  const auto entries = List(dir_ / "bin", result);
  EXPECT_EQ(err::kSuccess, result);
  ASSERT_EQ(7u, entries.size());
  EXPECT_EQ(attr::kDirectory, entries.at(".") & attr::kDirectory);
  EXPECT_EQ(attr::kDirectory, entries.at("..") & attr::kDirectory);
  EXPECT_EQ(attr::kDirectory, entries.at("sub"));
  EXPECT_EQ(attr::kNormal, entries.at("plain.txt"));
  EXPECT_EQ(attr::kReadOnly, entries.at("locked.txt"));
  EXPECT_EQ(attr::kReparsePoint | attr::kDirectory, entries.at("dirlink"));
  EXPECT_EQ(attr::kReparsePoint, entries.at("filelink"));
}

TEST_F(LocalFilesTest, ReadOnlyAttributeIsTheOwnersWriteBit) {
  const std::string locked = dir_ / "bin/locked.txt";
  ASSERT_EQ(err::kSuccess, files_.SetAttributes(locked, attr::kNormal));
  EXPECT_EQ(0644u, testkit::ModeOf(locked));
  ASSERT_EQ(err::kSuccess, files_.SetAttributes(locked, attr::kReadOnly | attr::kArchive));
  EXPECT_EQ(0444u, testkit::ModeOf(locked));

  // Through a link nothing changes: the target keeps its mode.
  ::chmod((dir_ / "outside/keep.txt").c_str(), 0644);
  EXPECT_EQ(err::kSuccess, files_.SetAttributes(dir_ / "bin/filelink", attr::kReadOnly));
  EXPECT_EQ(0644u, testkit::ModeOf(dir_ / "outside/keep.txt"));
}

TEST_F(LocalFilesTest, LinksAreRemovedNotFollowed) {
  EXPECT_EQ(err::kSuccess, files_.RemoveDir(dir_ / "bin/dirlink"));
  EXPECT_EQ(err::kSuccess, files_.RemoveFile(dir_ / "bin/filelink"));
  EXPECT_FALSE(testkit::Exists(dir_ / "bin/dirlink"));
  EXPECT_FALSE(testkit::Exists(dir_ / "bin/filelink"));
  EXPECT_TRUE(testkit::Exists(dir_ / "outside/keep.txt"));
}

TEST_F(LocalFilesTest, AccessFindsADanglingLink) {
  ASSERT_EQ(0, ::symlink((dir_ / "nowhere").c_str(), (dir_ / "bin/dangling").c_str()));
  EXPECT_EQ(err::kSuccess, files_.Access(dir_ / "bin/dangling", 0));
}

TEST_F(LocalFilesTest, DrivePathsWithoutAConnectionFail) {
  EXPECT_EQ(err::kPathNotFound, files_.Access("E:\\$RECYCLE.BIN", 0));
  std::vector<platform::FileIdEntry> entries;
  EXPECT_EQ(err::kPathNotFound, files_.ListFileIds("E:\\$RECYCLE.BIN", entries));
  EXPECT_EQ(err::kPathNotFound, files_.RemoveFile("e:/x"));
  EXPECT_NE(err::kSuccess, files_.RemoveDir("E:"));
  EXPECT_NE(err::kSuccess, files_.SetAttributes("E:\\x", attr::kNormal));
  EXPECT_FALSE(testkit::Exists(TableFolder()));  // only read, never created
}

// The log's file in a folder "Applog" that someone else may have prepared:
// only a plain file of ours, below a folder of ours, is opened and emptied;
// whatever else stands there is left as it is, and nothing makes the call
// wait.
TEST_F(LocalFilesTest, LogFileOpensOnlyAPlainFileOfOurOwn) {
  const std::string victim = dir_ / "outside/keep.txt";
  struct Plant {
    const char* what;
    std::function<void(const std::string& folder)> make;
  };
  const std::vector<Plant> plants = {
      {"a link to a file of ours", [&](const std::string& folder) {
         ASSERT_EQ(0, ::symlink(victim.c_str(), (folder + "/VkSharemapper.log").c_str()));
       }},
      {"a dangling link", [&](const std::string& folder) {
         ASSERT_EQ(0, ::symlink((dir_ / "outside/new.txt").c_str(), (folder + "/VkSharemapper.log").c_str()));
       }},
      {"a second name of a file of ours", [&](const std::string& folder) {
         ASSERT_EQ(0, ::link(victim.c_str(), (folder + "/VkSharemapper.log").c_str()));
       }},
      {"a FIFO", [&](const std::string& folder) {
         ASSERT_EQ(0, ::mkfifo((folder + "/VkSharemapper.log").c_str(), 0666));
       }},
      {"a folder", [&](const std::string& folder) {
         ASSERT_EQ(0, ::mkdir((folder + "/VkSharemapper.log").c_str(), 0755));
       }},
      {"the folder itself a link to one of ours", [&](const std::string& folder) {
         ASSERT_EQ(0, ::rmdir(folder.c_str()));
         ASSERT_EQ(0, ::symlink((dir_ / "outside").c_str(), folder.c_str()));
       }},
  };
  int round = 0;
  for (const Plant& plant : plants) {
    SCOPED_TRACE(plant.what);
    const std::string folder = dir_ / ("Applog" + std::to_string(round++));
    ASSERT_EQ(0, ::mkdir(folder.c_str(), 0755));
    plant.make(folder);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, files_.OpenLogFile(folder + "/VkSharemapper.log"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ("keep", testkit::ReadFile(victim));
    EXPECT_FALSE(testkit::Exists(dir_ / "outside/new.txt"));
    EXPECT_FALSE(testkit::Exists(dir_ / "outside/VkSharemapper.log"));
  }

  if (::geteuid() == 0) {
    const std::string foreign = dir_ / "ApplogForeign";
    ASSERT_EQ(0, ::mkdir(foreign.c_str(), 0777));
    ASSERT_EQ(0, ::chown(foreign.c_str(), 65534, 65534));
    EXPECT_EQ(nullptr, files_.OpenLogFile(foreign + "/VkSharemapper.log"));
    EXPECT_FALSE(testkit::Exists(foreign + "/VkSharemapper.log"));
    testkit::WriteFile(dir_ / "bin/theirs.log", "theirs");
    ASSERT_EQ(0, ::chown((dir_ / "bin/theirs.log").c_str(), 65534, 65534));
    EXPECT_EQ(nullptr, files_.OpenLogFile(dir_ / "bin/theirs.log"));
    EXPECT_EQ("theirs", testkit::ReadFile(dir_ / "bin/theirs.log"));
  }

  // A plain file of ours is emptied and written; a missing one is made.
  testkit::WriteFile(dir_ / "bin/old.log", "an older run's lines\n");
  for (const std::string& path : {dir_ / "bin/old.log", dir_ / "bin/new.log"}) {
    std::unique_ptr<std::streambuf> buffer = files_.OpenLogFile(path);
    ASSERT_NE(nullptr, buffer) << path;
    std::ostream out(buffer.get());
    out << "line " << 1 << std::endl;
    EXPECT_EQ("line 1\n", testkit::ReadFile(path));  // there at the flush, before the close
  }
}

}  // namespace
