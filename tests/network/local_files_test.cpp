// Files on the Linux file system: listings with attributes, the read-only
// attribute, and links that are removed without touching what they point at.
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "network_test_support.h"
#include "platform/platform.h"

namespace {

namespace attr = platform::attr;
namespace err = platform::err;

// Every entry of a listing, by name, and the error that ended it.
std::map<std::string, std::uint32_t> List(const std::string& pattern, platform::ErrorCode& end) {
  platform::Files& files = platform::RealFiles();
  std::map<std::string, std::uint32_t> entries;
  platform::FindData data;
  const platform::FindHandle handle = files.FindFirst(pattern, data);
  if (handle == platform::kInvalidFind) {
    end = files.LastError();
    return entries;
  }
  do {
    entries[data.name] = data.attributes;
  } while (files.FindNext(handle, data));
  end = files.LastError();
  EXPECT_TRUE(files.FindEnd(handle));
  return entries;
}

class LocalFilesTest : public nettest::PrivateTableTest {
 protected:
  void SetUp() override {
    nettest::PrivateTableTest::SetUp();
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_EQ(0, ::mkdir((dir_ / "bin").c_str(), 0755));
    ASSERT_EQ(0, ::mkdir((dir_ / "bin/sub").c_str(), 0755));
    nettest::WriteFile(dir_ / "bin/plain.txt", "x");
    nettest::WriteFile(dir_ / "bin/locked.txt", "x");
    ASSERT_EQ(0, ::chmod((dir_ / "bin/locked.txt").c_str(), 0444));
    ASSERT_EQ(0, ::mkdir((dir_ / "outside").c_str(), 0755));
    nettest::WriteFile(dir_ / "outside/keep.txt", "keep");
    ASSERT_EQ(0, ::symlink((dir_ / "outside").c_str(), (dir_ / "bin/dirlink").c_str()));
    ASSERT_EQ(0, ::symlink((dir_ / "outside/keep.txt").c_str(), (dir_ / "bin/filelink").c_str()));
  }

  platform::Files& files_ = platform::RealFiles();
  nettest::TempDir dir_;
};

TEST_F(LocalFilesTest, ListingReportsKindsAndEndsWithNoMoreFiles) {
  for (const std::string& pattern : {dir_ / "bin/*", dir_ / "bin\\*.*", dir_ / "bin/*.*"}) {
    platform::ErrorCode end = 0;
    const auto entries = List(pattern, end);
    EXPECT_EQ(err::kNoMoreFiles, end) << pattern;
    ASSERT_EQ(7u, entries.size()) << pattern;
    EXPECT_EQ(attr::kDirectory, entries.at(".") & attr::kDirectory);
    EXPECT_EQ(attr::kDirectory, entries.at("..") & attr::kDirectory);
    EXPECT_EQ(attr::kDirectory, entries.at("sub"));
    EXPECT_EQ(attr::kNormal, entries.at("plain.txt"));
    EXPECT_EQ(attr::kReadOnly, entries.at("locked.txt"));
    EXPECT_EQ(attr::kReparsePoint | attr::kDirectory, entries.at("dirlink"));
    EXPECT_EQ(attr::kReparsePoint, entries.at("filelink"));
  }
}

TEST_F(LocalFilesTest, PatternsFilterAndMissingFoldersFail) {
  platform::ErrorCode end = 0;
  auto entries = List(dir_ / "bin/*.txt", end);
  EXPECT_EQ(2u, entries.size());
  EXPECT_EQ(1u, entries.count("locked.txt"));
  EXPECT_EQ(err::kNoMoreFiles, end);

  entries = List(dir_ / "bin/*.none", end);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(err::kFileNotFound, end);

  platform::FindData data;
  EXPECT_EQ(platform::kInvalidFind, files_.FindFirst(dir_ / "missing/*", data));
  EXPECT_EQ(err::kPathNotFound, files_.LastError());
  EXPECT_FALSE(files_.FindNext(12345, data));
  EXPECT_EQ(err::kInvalidHandle, files_.LastError());
}

TEST_F(LocalFilesTest, ReadOnlyAttributeIsTheOwnersWriteBit) {
  const std::string locked = dir_ / "bin/locked.txt";
  ASSERT_TRUE(files_.SetAttributes(locked, attr::kNormal));
  EXPECT_EQ(0644u, nettest::ModeOf(locked));
  ASSERT_TRUE(files_.SetAttributes(locked, attr::kReadOnly | attr::kArchive));
  EXPECT_EQ(0444u, nettest::ModeOf(locked));

  // Through a link nothing changes: the target keeps its mode.
  ::chmod((dir_ / "outside/keep.txt").c_str(), 0644);
  EXPECT_TRUE(files_.SetAttributes(dir_ / "bin/filelink", attr::kReadOnly));
  EXPECT_EQ(0644u, nettest::ModeOf(dir_ / "outside/keep.txt"));

  EXPECT_FALSE(files_.SetAttributes(dir_ / "bin/missing", attr::kNormal));
  EXPECT_EQ(err::kFileNotFound, files_.LastError());
}

TEST_F(LocalFilesTest, LinksAreRemovedNotFollowed) {
  EXPECT_TRUE(files_.RemoveDir(dir_ / "bin/dirlink"));
  EXPECT_TRUE(files_.RemoveFile(dir_ / "bin/filelink"));
  EXPECT_FALSE(nettest::Exists(dir_ / "bin/dirlink"));
  EXPECT_FALSE(nettest::Exists(dir_ / "bin/filelink"));
  EXPECT_TRUE(nettest::Exists(dir_ / "outside/keep.txt"));
}

TEST_F(LocalFilesTest, RemovalsReportWindowsErrors) {
  EXPECT_FALSE(files_.RemoveFile(dir_ / "bin/sub"));
  EXPECT_EQ(err::kAccessDenied, files_.LastError());
  nettest::WriteFile(dir_ / "bin/sub/f", "x");
  EXPECT_FALSE(files_.RemoveDir(dir_ / "bin/sub"));
  EXPECT_EQ(err::kDirNotEmpty, files_.LastError());
  EXPECT_FALSE(files_.RemoveFile(dir_ / "bin/missing"));
  EXPECT_EQ(err::kFileNotFound, files_.LastError());
  EXPECT_TRUE(files_.RemoveFile(dir_ / "bin/sub/f"));
  EXPECT_TRUE(files_.RemoveDir(dir_ / "bin/sub"));
}

TEST_F(LocalFilesTest, AccessFindsEveryKindOfEntry) {
  ASSERT_EQ(0, ::symlink((dir_ / "nowhere").c_str(), (dir_ / "bin/dangling").c_str()));
  EXPECT_EQ(0, files_.Access(dir_ / "bin/dangling", 0));
  EXPECT_EQ(0, files_.Access(dir_ / "bin/sub", 0));
  EXPECT_EQ(-1, files_.Access(dir_ / "bin/missing", 0));
}

TEST_F(LocalFilesTest, DrivePathsWithoutAConnectionFail) {
  EXPECT_EQ(-1, files_.Access("E:\\$RECYCLE.BIN", 0));
  platform::FindData data;
  EXPECT_EQ(platform::kInvalidFind, files_.FindFirst("E:\\$RECYCLE.BIN\\*.*", data));
  EXPECT_EQ(err::kPathNotFound, files_.LastError());
  EXPECT_FALSE(files_.RemoveFile("e:/x"));
  EXPECT_EQ(err::kPathNotFound, files_.LastError());
  EXPECT_FALSE(files_.RemoveDir("E:"));
  EXPECT_FALSE(files_.SetAttributes("E:\\x", attr::kNormal));
  EXPECT_FALSE(nettest::Exists(TableFolder()));  // only read, never created
}

}  // namespace
