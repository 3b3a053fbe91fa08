// Drives in use, local time, thread number, the working directory and the
// process token used to enable a privilege.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using TokenHandle = std::uintptr_t;

namespace token {
constexpr std::uint32_t kAdjustPrivileges = 0x20;  // TOKEN_ADJUST_PRIVILEGES
constexpr std::uint32_t kQuery = 0x8;              // TOKEN_QUERY
}  // namespace token

// Local wall-clock time to the millisecond (the fields of a SYSTEMTIME).
struct LocalTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

class System {
 public:
  virtual ~System() = default;

  // GetLogicalDrives: bit 0 is A:, bit 25 is Z:; a set bit means the letter
  // is in use. Only the low 26 bits are ever set.
  virtual std::uint32_t LogicalDrives() = 0;

  // GetLocalTime.
  virtual LocalTime LocalTimeNow() = 0;

  // GetCurrentThreadId, widened.
  virtual std::uint64_t CurrentThreadId() = 0;

  // The current working directory, ending in the platform's path separator.
  // False when it cannot be determined.
  virtual bool CurrentDirectory(std::string& out) = 0;

  // Called once a secret (the password) has been read from the command line,
  // whose own argument strings the caller has overwritten: keeps the secret
  // out of crash dumps for the rest of the process, and overwrites it in any
  // copy of the command line that the system keeps for other processes to
  // read.
  virtual void ProtectSecret(const std::string& secret) = 0;

  // OpenProcessToken(GetCurrentProcess(), access, &token): true on success.
  virtual bool OpenProcessToken(std::uint32_t access, TokenHandle& token) = 0;

  // LookupPrivilegeValueA(NULL, name) and AdjustTokenPrivileges with that one
  // privilege enabled. True when both calls succeeded.
  virtual bool EnablePrivilege(TokenHandle token, const std::string& name) = 0;

  // CloseHandle on the token.
  virtual void CloseToken(TokenHandle token) = 0;
};

}  // namespace platform
