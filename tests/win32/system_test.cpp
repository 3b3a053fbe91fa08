// The system concern, and the files operations the application log uses at
// start-up, against the real system.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "win32_support.h"

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

TEST(Win32System, LogicalDrivesHoldCAndNothingBeyondZ) {
  const std::uint32_t drives = platform::system().LogicalDrives();
  EXPECT_NE(drives & (1u << 2), 0u);  // C:
  EXPECT_EQ(drives & ~0x3FFFFFFu, 0u);
}

TEST(Win32System, LocalTimeIsPlausible) {
  const platform::LocalTime now = platform::system().LocalTimeNow();
  EXPECT_TRUE(now.year >= 2024 && now.year < 2200);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour < 24 && now.minute < 60 && now.second < 60 && now.milliseconds < 1000);
}

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
  ASSERT_TRUE(::SetCurrentDirectoryA(win32test::ScratchDir().c_str()));
  ASSERT_TRUE(sys.CurrentDirectory(cwd));
  EXPECT_EQ(cwd, win32test::ScratchDir() + "\\");
  ASSERT_TRUE(::SetCurrentDirectoryA("C:\\"));
  ASSERT_TRUE(sys.CurrentDirectory(cwd));
  EXPECT_EQ(cwd, "C:\\");
}

// What the application log does at start-up: test, create, test again.
TEST(Win32System, LogDirectoryIsTestedAndCreated) {
  platform::Files& files = platform::files();
  const std::string logDir = win32test::ScratchDir() + "\\Applog";
  EXPECT_EQ(files.Access(logDir, 0), -1);
  EXPECT_TRUE(files.MakeDirectory(logDir));
  EXPECT_EQ(files.Access(logDir, 0), 0);
  EXPECT_FALSE(files.MakeDirectory(logDir));
  EXPECT_EQ(files.LastError(), platform::err::kAlreadyExists);
  // Only the last component is created.
  EXPECT_FALSE(files.MakeDirectory(win32test::ScratchDir() + "\\missing\\Applog"));
  EXPECT_EQ(files.LastError(), platform::err::kPathNotFound);
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
