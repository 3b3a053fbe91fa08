// The files concern against the real system, on a folder shaped like a
// recycle bin: a read-only file, a hidden system folder with a file inside,
// and a dot file.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "win32_support.h"

namespace {

namespace attr = platform::attr;
namespace err = platform::err;

// Lists one directory through the layer: name -> attributes.
std::map<std::string, std::uint32_t> List(const std::string& dir, bool& endedCleanly) {
  platform::Files& files = platform::files();
  std::map<std::string, std::uint32_t> entries;
  platform::FindData data;
  const platform::FindHandle handle = files.FindFirst(dir + "\\*.*", data);
  endedCleanly = false;
  if (handle == platform::kInvalidFind) return entries;
  do {
    entries[data.name] = data.attributes;
  } while (files.FindNext(handle, data));
  endedCleanly = files.LastError() == err::kNoMoreFiles;
  files.FindEnd(handle);
  return entries;
}

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Files& files = platform::files();
    ASSERT_TRUE(files.MakeDirectory(bin_));
    ASSERT_TRUE(files.MakeDirectory(sys_));
    ASSERT_TRUE(win32test::WriteTextFile(readOnly_, "r"));
    ASSERT_TRUE(win32test::WriteTextFile(keep_, ""));
    ASSERT_TRUE(win32test::WriteTextFile(inner_, "i"));
    ASSERT_TRUE(files.SetAttributes(readOnly_, attr::kReadOnly));
    ASSERT_TRUE(files.SetAttributes(sys_, attr::kHidden | attr::kSystem));
  }
  void TearDown() override { win32test::RemoveTree(bin_); }

  const std::string bin_ = win32test::ScratchDir() + "\\$RECYCLE.BIN";
  const std::string readOnly_ = bin_ + "\\readonly.txt";
  const std::string keep_ = bin_ + "\\.keep";
  const std::string sys_ = bin_ + "\\S-1-5-21";
  const std::string inner_ = sys_ + "\\$I123.txt";
};

TEST_F(Win32Files, ListingGivesEveryEntryWithItsAttributes) {
  bool endedCleanly = false;
  std::map<std::string, std::uint32_t> entries = List(bin_, endedCleanly);
  EXPECT_TRUE(endedCleanly);  // the listing ended with ERROR_NO_MORE_FILES
  EXPECT_EQ(entries.size(), 5u);
  EXPECT_TRUE(entries.count(".") == 1 && entries.count("..") == 1);
  ASSERT_EQ(entries.count(".keep"), 1u);
  EXPECT_EQ(entries[".keep"] & attr::kDirectory, 0u);
  ASSERT_EQ(entries.count("readonly.txt"), 1u);
  EXPECT_EQ(entries["readonly.txt"] & (attr::kReadOnly | attr::kDirectory), attr::kReadOnly);
  ASSERT_EQ(entries.count("S-1-5-21"), 1u);
  const std::uint32_t dirBits = attr::kDirectory | attr::kHidden | attr::kSystem;
  EXPECT_EQ(entries["S-1-5-21"] & dirBits, dirBits);

  entries = List(sys_, endedCleanly);
  EXPECT_TRUE(endedCleanly);
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries.count("$I123.txt"), 1u);
}

// _access: existence whatever the kind; write access follows read-only.
TEST_F(Win32Files, AccessTellsExistenceAndWriteAccess) {
  platform::Files& files = platform::files();
  EXPECT_EQ(files.Access(readOnly_, 0), 0);
  EXPECT_EQ(files.Access(sys_, 0), 0);
  EXPECT_EQ(files.Access(readOnly_, 4), 0);
  EXPECT_EQ(files.Access(readOnly_, 2), -1);
  EXPECT_EQ(files.Access(readOnly_, 1), 0);  // no such mode on Windows: treated as existence
  EXPECT_EQ(files.Access(bin_ + "\\absent", 0), -1);
}

TEST_F(Win32Files, ReadOnlyFileGoesOnlyOnceTheAttributeIsCleared) {
  platform::Files& files = platform::files();
  EXPECT_FALSE(files.RemoveFile(readOnly_));
  EXPECT_EQ(files.LastError(), err::kAccessDenied);
  EXPECT_TRUE(files.SetAttributes(readOnly_, attr::kNormal));
  EXPECT_TRUE(files.RemoveFile(readOnly_));
  EXPECT_EQ(files.Access(readOnly_, 0), -1);
  EXPECT_FALSE(files.RemoveFile(readOnly_));
  EXPECT_EQ(files.LastError(), err::kFileNotFound);
}

// Directories go only once empty; hidden and system bits do not stop it.
TEST_F(Win32Files, DirectoriesGoOnlyOnceEmpty) {
  platform::Files& files = platform::files();
  ASSERT_TRUE(files.SetAttributes(readOnly_, attr::kNormal));
  ASSERT_TRUE(files.RemoveFile(readOnly_));
  EXPECT_FALSE(files.RemoveDir(sys_));
  EXPECT_EQ(files.LastError(), err::kDirNotEmpty);
  EXPECT_TRUE(files.RemoveFile(inner_));
  EXPECT_TRUE(files.RemoveDir(sys_));
  EXPECT_FALSE(files.RemoveDir(bin_));  // .keep is still there
  EXPECT_TRUE(files.RemoveFile(keep_));
  EXPECT_TRUE(files.RemoveDir(bin_));
  EXPECT_EQ(files.Access(bin_, 0), -1);
}

// A directory that cannot be listed, and the invalid handle it yields.
TEST_F(Win32Files, MissingDirectoryGivesTheInvalidHandle) {
  platform::Files& files = platform::files();
  platform::FindData data;
  EXPECT_EQ(files.FindFirst(bin_ + "\\absent\\*.*", data), platform::kInvalidFind);
  const platform::ErrorCode listError = files.LastError();
  EXPECT_TRUE(listError == err::kPathNotFound || listError == err::kFileNotFound) << listError;
  EXPECT_FALSE(files.FindNext(platform::kInvalidFind, data));
  EXPECT_EQ(files.LastError(), err::kInvalidHandle);
  EXPECT_FALSE(files.FindEnd(platform::kInvalidFind));
}

// The ids the walk compares: a folder's entry in its parent and its own "."
// carry one id, and its ".." carries the parent's; a missing folder is an
// error, not an empty listing.
TEST_F(Win32Files, FileIdsTieEveryFolderToItsParent) {
  platform::Files& files = platform::files();
  std::vector<platform::FileIdEntry> top;
  ASSERT_EQ(files.ListFileIds(bin_, top), err::kSuccess);
  std::vector<platform::FileIdEntry> inner;
  ASSERT_EQ(files.ListFileIds(sys_, inner), err::kSuccess);
  auto id = [](const std::vector<platform::FileIdEntry>& in, const std::string& name) {
    for (const auto& e : in) {
      if (e.name == name) return e.fileId;
    }
    return std::uint64_t{0};
  };
  ASSERT_NE(id(top, "S-1-5-21"), 0u);
  EXPECT_EQ(id(inner, "."), id(top, "S-1-5-21"));
  EXPECT_EQ(id(inner, ".."), id(top, "."));
  EXPECT_NE(id(top, "readonly.txt"), id(top, ".keep"));
  for (const auto& e : top) EXPECT_EQ(e.reparseTag, 0u) << e.name;

  std::vector<platform::FileIdEntry> none;
  EXPECT_NE(files.ListFileIds(bin_ + "\\absent", none), err::kSuccess);
  EXPECT_TRUE(none.empty());
}

// The application log: a plain file of its own is emptied and written with
// CR LF line ends; a folder or a device where the log should be turns the
// log off instead of writing into it.
TEST_F(Win32Files, LogFileIsAPlainFileOrNothing) {
  platform::Files& files = platform::files();
  const std::string log = bin_ + "\\VkSharemapper.log";
  ASSERT_TRUE(win32test::WriteTextFile(log, "an older run's lines\n"));
  {
    std::unique_ptr<std::streambuf> buffer = files.OpenLogFile(log);
    ASSERT_NE(buffer, nullptr);
    std::ostream out(buffer.get());
    out << "line 1" << std::endl;
  }
  std::ifstream in(log, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, "line 1\r\n");

  EXPECT_EQ(files.OpenLogFile(sys_), nullptr);
  EXPECT_EQ(files.OpenLogFile("NUL"), nullptr);
}

}  // namespace
