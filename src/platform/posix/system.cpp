// Linux implementation of the system concern.
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/posix/drives.h"
#include "platform/system.h"

namespace platform {
namespace {

class PosixSystem : public System {
 public:
  explicit PosixSystem(posix::Drives& drives) : drives_(drives) {}

  // No local drive letters: those in use are the user's connections.
  std::uint32_t LogicalDrives() override { return drives_.LetterMask() & 0x3FFFFFFu; }

  // The kernel reads /proc/<pid>/cmdline from the argument strings the
  // caller has already overwritten; what is left is to write no core file.
  void ProtectSecret(const std::string&) override { prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); }

  LocalTime LocalTimeNow() override {
    LocalTime out;
    struct timespec ts {};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return out;
    struct tm parts {};
    time_t seconds = ts.tv_sec;
    if (localtime_r(&seconds, &parts) == nullptr) return out;
    out.year = static_cast<std::uint16_t>(parts.tm_year + 1900);
    out.month = static_cast<std::uint16_t>(parts.tm_mon + 1);
    out.day = static_cast<std::uint16_t>(parts.tm_mday);
    out.hour = static_cast<std::uint16_t>(parts.tm_hour);
    out.minute = static_cast<std::uint16_t>(parts.tm_min);
    out.second = static_cast<std::uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    out.milliseconds = static_cast<std::uint16_t>(ts.tv_nsec / 1000000);
    return out;
  }

  std::uint64_t CurrentThreadId() override {
    return static_cast<std::uint64_t>(syscall(SYS_gettid));
  }

  bool CurrentDirectory(std::string& out) override {
    std::vector<char> buffer(4096);
    for (;;) {
      if (getcwd(buffer.data(), buffer.size()) != nullptr) break;
      if (errno != ERANGE || buffer.size() > (1u << 20)) return false;
      buffer.resize(buffer.size() * 2);
    }
    out = buffer.data();
    if (out.empty() || out.back() != '/') out += '/';
    return true;
  }

  // No token privileges on Linux: opening a token and enabling a privilege
  // in it succeed, and there is nothing to close.
  bool OpenProcessToken(std::uint32_t, TokenHandle& token) override {
    token = 1;  // a handle, as Windows gives one
    return true;
  }
  bool EnablePrivilege(TokenHandle, const std::string&) override { return true; }
  void CloseToken(TokenHandle) override {}

 private:
  posix::Drives& drives_;
};

}  // namespace

System& RealSystem() {
  static PosixSystem instance(posix::UserDrives());
  return instance;
}

}  // namespace platform
