// The files concern against the real system, on a folder shaped like a
// recycle bin (a read-only file, a hidden system folder with a file inside,
// and a dot file), in what only Windows shows: the seam suite checks the
// rest on every layer.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <map>
#include <string>

#include "platform/platform.h"
#include "support/runner.h"

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
    ASSERT_TRUE(testkit::WriteFile(readOnly_, "r"));
    ASSERT_TRUE(testkit::WriteFile(keep_, ""));
    ASSERT_TRUE(testkit::WriteFile(inner_, "i"));
    ASSERT_TRUE(files.SetAttributes(readOnly_, attr::kReadOnly));
    ASSERT_TRUE(files.SetAttributes(sys_, attr::kHidden | attr::kSystem));
  }
  const testkit::TempDir scratch_{"win32-files"};
  const std::string bin_ = scratch_ / "$RECYCLE.BIN";
  const std::string readOnly_ = bin_ + "\\readonly.txt";
  const std::string keep_ = bin_ + "\\.keep";
  const std::string sys_ = bin_ + "\\S-1-5-21";
  const std::string inner_ = sys_ + "\\$I123.txt";
};

// A hidden system folder is listed with its bits, and goes once empty.
TEST_F(Win32Files, HiddenSystemFolderIsListedAndGoesOnceEmpty) {
  bool endedCleanly = false;
  std::map<std::string, std::uint32_t> entries = List(bin_, endedCleanly);
  EXPECT_TRUE(endedCleanly);  // the listing ended with ERROR_NO_MORE_FILES
  ASSERT_EQ(entries.count("S-1-5-21"), 1u);
  const std::uint32_t dirBits = attr::kDirectory | attr::kHidden | attr::kSystem;
  EXPECT_EQ(entries["S-1-5-21"] & dirBits, dirBits);

  entries = List(sys_, endedCleanly);
  EXPECT_TRUE(endedCleanly);
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries.count("$I123.txt"), 1u);
  platform::Files& files = platform::files();
  EXPECT_TRUE(files.RemoveFile(inner_));
  EXPECT_TRUE(files.RemoveDir(sys_));
}

// _access: write access follows read-only.
TEST_F(Win32Files, AccessTellsWriteAccess) {
  platform::Files& files = platform::files();
  EXPECT_EQ(files.Access(readOnly_, 4), 0);
  EXPECT_EQ(files.Access(readOnly_, 2), -1);
  EXPECT_EQ(files.Access(readOnly_, 1), 0);  // no such mode on Windows: treated as existence
}

// A read-only file goes only once the attribute is cleared. A local Linux
// file goes whatever its mode (its folder's decides), so this is no seam
// case; the Samba tests check it on a share.
TEST_F(Win32Files, ReadOnlyFileGoesOnlyOnceTheAttributeIsCleared) {
  platform::Files& files = platform::files();
  EXPECT_FALSE(files.RemoveFile(readOnly_));
  EXPECT_EQ(files.LastError(), err::kAccessDenied);
  EXPECT_TRUE(files.SetAttributes(readOnly_, attr::kNormal));
  EXPECT_TRUE(files.RemoveFile(readOnly_));
  EXPECT_EQ(files.Access(readOnly_, 0), -1);
}

// The application log: a plain file of its own is emptied and written with
// CR LF line ends; a folder or a device where the log should be turns the
// log off instead of writing into it.
TEST_F(Win32Files, LogFileIsAPlainFileOrNothing) {
  platform::Files& files = platform::files();
  const std::string log = bin_ + "\\VkSharemapper.log";
  ASSERT_TRUE(testkit::WriteFile(log, "an older run's lines\n"));
  {
    std::unique_ptr<std::streambuf> buffer = files.OpenLogFile(log);
    ASSERT_NE(buffer, nullptr);
    std::ostream out(buffer.get());
    out << "line 1" << std::endl;
  }
  EXPECT_EQ(testkit::ReadFile(log), "line 1\r\n");

  EXPECT_EQ(files.OpenLogFile(sys_), nullptr);
  EXPECT_EQ(files.OpenLogFile("NUL"), nullptr);
}

}  // namespace
