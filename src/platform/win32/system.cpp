// Windows implementation of the system concern.
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

HANDLE ToToken(TokenHandle token) { return reinterpret_cast<HANDLE>(token); }

template <typename Char>
void Overwrite(Char* text, const Char* secret, std::size_t size, Char with) {
  if (text == nullptr) return;
  for (Char* at = text; *at != 0; ++at) {
    std::size_t same = 0;
    while (same < size && at[same] != 0 && at[same] == secret[same]) ++same;
    if (same < size) continue;
    for (std::size_t i = 0; i < size; ++i) at[i] = with;
    at += size - 1;
  }
}

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

  // Other processes read the command line from the copy behind
  // GetCommandLineW (the process parameters); GetCommandLineA is this
  // process's narrow copy of it. Every occurrence of the secret in either is
  // overwritten. Crash dumps are written by other processes on request, which
  // a process cannot refuse; the secret is kept out of the command line only.
  void ProtectSecret(const std::string& secret) override {
    if (secret.empty()) return;
    Overwrite(::GetCommandLineA(), secret.c_str(), secret.size(), 'X');
    const int units = ::MultiByteToWideChar(CP_ACP, 0, secret.data(), static_cast<int>(secret.size()), nullptr, 0);
    if (units <= 0) return;
    std::vector<wchar_t> wide(static_cast<std::size_t>(units));
    ::MultiByteToWideChar(CP_ACP, 0, secret.data(), static_cast<int>(secret.size()), wide.data(), units);
    Overwrite(::GetCommandLineW(), wide.data(), wide.size(), L'X');
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

  bool OpenProcessToken(std::uint32_t access, TokenHandle& token) override {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), static_cast<DWORD>(access), &opened)) {
      token = 0;
      return false;
    }
    token = reinterpret_cast<TokenHandle>(opened);
    return true;
  }

  bool EnablePrivilege(TokenHandle token, const std::string& name) override {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueA(nullptr, name.c_str(), &privileges.Privileges[0].Luid)) {
      return false;
    }
    if (!::AdjustTokenPrivileges(ToToken(token), FALSE, &privileges, 0, nullptr, nullptr)) {
      return false;
    }
    // The call also succeeds when the account does not hold the privilege;
    // it then leaves ERROR_NOT_ALL_ASSIGNED behind and nothing was enabled.
    return ::GetLastError() != ERROR_NOT_ALL_ASSIGNED;
  }

  void CloseToken(TokenHandle token) override {
    if (token != 0) ::CloseHandle(ToToken(token));
  }
};

}  // namespace

System& RealSystem() {
  static WinSystem instance;
  return instance;
}

}  // namespace platform
