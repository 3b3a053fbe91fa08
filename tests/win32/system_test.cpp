// The system concern against the real system, in what only Windows shows
// (the seam suite checks the rest on every layer).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "support/runner.h"

namespace {

DWORD WINAPI ReportThreadId(LPVOID out) {
  *static_cast<std::uint64_t*>(out) = platform::system().CurrentThreadId();
  return 0;
}

// Restores the working directory a test changes.
class WorkingDirectory : public ::testing::Test {
 protected:
  void SetUp() override { ::GetCurrentDirectoryA(MAX_PATH + 1, saved_); }
  void TearDown() override { ::SetCurrentDirectoryA(saved_); }

 private:
  char saved_[MAX_PATH + 1] = {};
};

TEST(Win32System, LogicalDrivesHoldC) { EXPECT_NE(platform::system().LogicalDrives() & (1u << 2), 0u); }

TEST(Win32System, ThreadIdBelongsToTheCallingThread) {
  platform::System& sys = platform::system();
  const std::uint64_t mainId = sys.CurrentThreadId();
  EXPECT_NE(mainId, 0u);
  EXPECT_EQ(mainId, static_cast<std::uint64_t>(::GetCurrentThreadId()));
  std::uint64_t otherId = 0;
  const HANDLE thread = ::CreateThread(nullptr, 0, ReportThreadId, &otherId, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  EXPECT_NE(otherId, 0u);
  EXPECT_NE(otherId, mainId);
}

// The working directory always ends in one backslash, also at a drive's root
// where the system itself already supplies it.
TEST_F(WorkingDirectory, EndsInOneBackslash) {
  platform::System& sys = platform::system();
  std::string cwd;
  ASSERT_TRUE(sys.CurrentDirectory(cwd));
  EXPECT_TRUE(!cwd.empty() && cwd.back() == '\\');
  const testkit::TempDir scratch("win32-cwd");
  ASSERT_TRUE(::SetCurrentDirectoryA(scratch.path().c_str()));
  ASSERT_TRUE(sys.CurrentDirectory(cwd));
  EXPECT_EQ(cwd, scratch.path() + "\\");
  ASSERT_TRUE(::SetCurrentDirectoryA("C:\\"));
  ASSERT_TRUE(sys.CurrentDirectory(cwd));
  EXPECT_EQ(cwd, "C:\\");
}

// Only the last component of a folder is made (the seam suite); Windows
// names a missing parent ERROR_PATH_NOT_FOUND.
TEST(Win32System, AFolderWithoutItsParentIsPathNotFound) {
  const testkit::TempDir scratch("win32-mkdir");
  EXPECT_EQ(platform::files().MakeDirectory(scratch / "missing" + "\\Applog"), platform::err::kPathNotFound);
}

// The secret goes from both copies of the process's command line that other
// processes can read; the name of this test program stands in for it.
TEST(Win32System, SecretIsOverwrittenInTheCommandLine) {
  const std::string secret = "win32_layer_tests";
  if (std::string(::GetCommandLineA()).find(secret) == std::string::npos) {
    GTEST_SKIP() << "the command line does not name the program: " << ::GetCommandLineA();
  }
  platform::system().ProtectSecret(secret);
  const std::string narrow = ::GetCommandLineA();
  EXPECT_EQ(narrow.find(secret), std::string::npos) << narrow;
  EXPECT_NE(narrow.find(std::string(secret.size(), 'X')), std::string::npos) << narrow;
  const std::wstring wide = ::GetCommandLineW();
  EXPECT_EQ(wide.find(std::wstring(secret.begin(), secret.end())), std::wstring::npos);
}

}  // namespace
