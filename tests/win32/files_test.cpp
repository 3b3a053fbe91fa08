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
#include <vector>

#include "platform/platform.h"
#include "support/runner.h"

namespace {

namespace attr = platform::attr;
namespace err = platform::err;

// Lists one directory through the layer: name -> attributes.
std::map<std::string, std::uint32_t> List(const std::string& dir, bool& listed) {
  std::vector<platform::FileIdEntry> found;
  listed = platform::files().ListFileIds(dir, found) == err::kSuccess;
  std::map<std::string, std::uint32_t> entries;
  for (const auto& entry : found) entries[entry.name] = entry.attributes;
  return entries;
}

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Files& files = platform::files();
    ASSERT_EQ(files.MakeDirectory(bin_), err::kSuccess);
    ASSERT_EQ(files.MakeDirectory(sys_), err::kSuccess);
    ASSERT_TRUE(testkit::WriteFile(readOnly_, "r"));
    ASSERT_TRUE(testkit::WriteFile(keep_, ""));
    ASSERT_TRUE(testkit::WriteFile(inner_, "i"));
    ASSERT_EQ(files.SetAttributes(readOnly_, attr::kReadOnly), err::kSuccess);
    ASSERT_EQ(files.SetAttributes(sys_, attr::kHidden | attr::kSystem), err::kSuccess);
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
  EXPECT_TRUE(endedCleanly);
  ASSERT_EQ(entries.count("S-1-5-21"), 1u);
  const std::uint32_t dirBits = attr::kDirectory | attr::kHidden | attr::kSystem;
  EXPECT_EQ(entries["S-1-5-21"] & dirBits, dirBits);

  entries = List(sys_, endedCleanly);
  EXPECT_TRUE(endedCleanly);
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries.count("$I123.txt"), 1u);
  platform::Files& files = platform::files();
  EXPECT_EQ(files.RemoveFile(inner_), err::kSuccess);
  EXPECT_EQ(files.RemoveDir(sys_), err::kSuccess);
}

// _access: write access follows read-only.
TEST_F(Win32Files, AccessTellsWriteAccess) {
  platform::Files& files = platform::files();
  EXPECT_EQ(files.Access(readOnly_, 4), err::kSuccess);
  EXPECT_EQ(files.Access(readOnly_, 2), err::kAccessDenied);
  EXPECT_EQ(files.Access(readOnly_, 1), err::kSuccess);  // no such mode on Windows: treated as existence
}

// A read-only file goes only once the attribute is cleared. A local Linux
// file goes whatever its mode (its folder's decides), so this is no seam
// case; the Samba tests check it on a share.
TEST_F(Win32Files, ReadOnlyFileGoesOnlyOnceTheAttributeIsCleared) {
  platform::Files& files = platform::files();
  EXPECT_EQ(files.RemoveFile(readOnly_), err::kAccessDenied);
  EXPECT_EQ(files.SetAttributes(readOnly_, attr::kNormal), err::kSuccess);
  EXPECT_EQ(files.RemoveFile(readOnly_), err::kSuccess);
  EXPECT_EQ(files.Access(readOnly_, 0), err::kFileNotFound);
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
