#include <string>

#include "check.h"
#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "suite.h"

namespace suite {
namespace {

DWORD WINAPI ReportThreadId(LPVOID out) {
  *static_cast<std::uint64_t*>(out) = platform::system().CurrentThreadId();
  return 0;
}

}  // namespace

void SystemTests() {
  check::Section("System");
  platform::System& sys = platform::system();

  const std::uint32_t drives = sys.LogicalDrives();
  CHECK((drives & (1u << 2)) != 0);  // C:
  CHECK_EQ(drives & ~0x3FFFFFFu, 0u);

  const platform::LocalTime now = sys.LocalTimeNow();
  CHECK(now.year >= 2024 && now.year < 2200);
  CHECK(now.month >= 1 && now.month <= 12);
  CHECK(now.day >= 1 && now.day <= 31);
  CHECK(now.hour < 24 && now.minute < 60 && now.second < 60 && now.milliseconds < 1000);

  // The number belongs to the calling thread: another thread gets its own.
  const std::uint64_t mainId = sys.CurrentThreadId();
  CHECK(mainId != 0);
  CHECK_EQ(mainId, static_cast<std::uint64_t>(::GetCurrentThreadId()));
  std::uint64_t otherId = 0;
  const HANDLE thread = ::CreateThread(nullptr, 0, ReportThreadId, &otherId, 0, nullptr);
  if (CHECK(thread != nullptr)) {
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    CHECK(otherId != 0 && otherId != mainId);
  }

  // The working directory always ends in one backslash, also at a drive's
  // root where the system itself already supplies it.
  char saved[MAX_PATH + 1] = {};
  ::GetCurrentDirectoryA(MAX_PATH + 1, saved);
  std::string cwd;
  CHECK(sys.CurrentDirectory(cwd));
  CHECK(!cwd.empty() && cwd.back() == '\\');
  if (CHECK(::SetCurrentDirectoryA(ScratchDir().c_str()))) {
    CHECK(sys.CurrentDirectory(cwd));
    CHECK_EQ(cwd, ScratchDir() + "\\");
  }
  if (CHECK(::SetCurrentDirectoryA("C:\\"))) {
    CHECK(sys.CurrentDirectory(cwd));
    CHECK_EQ(cwd, std::string("C:\\"));
  }
  ::SetCurrentDirectoryA(saved);

  // What the application log does at start-up: test, create, test again.
  platform::Files& files = platform::files();
  const std::string logDir = ScratchDir() + "\\Applog";
  CHECK_EQ(files.Access(logDir, 0), -1);
  CHECK(files.MakeDirectory(logDir));
  CHECK_EQ(files.Access(logDir, 0), 0);
  CHECK(!files.MakeDirectory(logDir));
  CHECK_EQ(files.LastError(), platform::err::kAlreadyExists);
  // Only the last component is created.
  CHECK(!files.MakeDirectory(ScratchDir() + "\\missing\\Applog"));
  CHECK_EQ(files.LastError(), platform::err::kPathNotFound);
}

}  // namespace suite
