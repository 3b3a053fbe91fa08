// Windows implementation of the system concern.
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

class WinSystem : public System {
 public:
  std::uint32_t LogicalDrives() override {
    return static_cast<std::uint32_t>(::GetLogicalDrives()) & 0x3FFFFFFu;
  }

  LocalTime LocalTimeNow() override {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    LocalTime out;
    out.year = now.wYear;
    out.month = now.wMonth;
    out.day = now.wDay;
    out.hour = now.wHour;
    out.minute = now.wMinute;
    out.second = now.wSecond;
    out.milliseconds = now.wMilliseconds;
    return out;
  }

  std::uint64_t CurrentThreadId() override {
    return static_cast<std::uint64_t>(::GetCurrentThreadId());
  }

  bool CurrentDirectory(std::string& out) override {
    // GetCurrentDirectoryA answers a too-small buffer with the size it needs
    // (terminator included), and success with the length copied (without it).
    // Another thread may change the directory between two calls, so retry.
    std::vector<char> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 4; ++attempt) {
      const DWORD size = static_cast<DWORD>(buffer.size());
      const DWORD length = ::GetCurrentDirectoryA(size, buffer.data());
      if (length == 0) return false;
      if (length < size) {
        out.assign(buffer.data(), length);
        if (out.back() != '\\' && out.back() != '/') out += '\\';
        return true;
      }
      buffer.resize(static_cast<std::size_t>(length) + 1);
    }
    return false;
  }
};

}  // namespace

System& RealSystem() {
  static WinSystem instance;
  return instance;
}

}  // namespace platform
