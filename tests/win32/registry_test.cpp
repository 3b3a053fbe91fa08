// The registry concern and the process token against the real system, in
// what only Windows shows (the seam suite checks the rest on every layer).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "support/runner.h"

namespace {

namespace err = platform::err;
namespace reg = platform::reg;

// Reads a value into a buffer of the size the registry helpers use.
platform::ErrorCode Read(platform::KeyHandle key, const std::string& name, std::string& out,
                         std::uint32_t& size) {
  std::vector<char> buffer(4096, '\0');
  std::uint32_t type = reg::kTypeNone;
  size = static_cast<std::uint32_t>(buffer.size());
  const platform::ErrorCode status =
      platform::registry().QueryValue(key, name, type, buffer.data(), size);
  if (status == err::kSuccess) {
    // The system stores the terminator that follows the text's bytes too, so
    // the text ends at the first zero byte within the size returned.
    const std::string bytes(buffer.data(), size);
    out = bytes.substr(0, bytes.find('\0'));
    if (type != reg::kTypeSz) out = "<type " + std::to_string(type) + ">";
  }
  return status;
}

platform::ErrorCode Write(platform::KeyHandle key, const std::string& name,
                          const std::string& text) {
  return platform::registry().SetValue(key, name, reg::kTypeSz, text.data(),
                                       static_cast<std::uint32_t>(text.size()));
}

// Reads the token's own list of privileges: is this one enabled now?
bool PrivilegeEnabled(platform::TokenHandle token, const char* name) {
  LUID wanted{};
  if (!::LookupPrivilegeValueA(nullptr, name, &wanted)) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(token);
  DWORD needed = 0;
  ::GetTokenInformation(handle, TokenPrivileges, nullptr, 0, &needed);
  std::vector<unsigned char> buffer(needed + sizeof(TOKEN_PRIVILEGES));
  if (!::GetTokenInformation(handle, TokenPrivileges, buffer.data(),
                             static_cast<DWORD>(buffer.size()), &needed)) {
    return false;
  }
  const auto* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < list->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = list->Privileges[i];
    if (entry.Luid.LowPart == wanted.LowPart && entry.Luid.HighPart == wanted.HighPart) {
      return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  return false;
}

// A key tree of this process's own below HKEY_CURRENT_USER\Software, removed
// before and after each test.
class Win32Registry : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }
  void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }

  // Creates the record key and returns it open.
  platform::KeyHandle CreateRecord() {
    platform::KeyHandle key = 0;
    EXPECT_EQ(platform::registry().CreateKey(record_, reg::kKeyAllAccess, key), err::kSuccess);
    return key;
  }

  const std::string base_ =
      "Software\\SharemapperLayerTest-" + std::to_string(::GetCurrentProcessId());
  const std::string record_ = base_ + "\\MountPoints2\\##srv#pub#docs";
};

TEST_F(Win32Registry, MissingKeyIsNotFoundAndHandleCleared) {
  platform::KeyHandle key = 1;
  EXPECT_EQ(platform::registry().OpenKey(base_, reg::kKeyAllAccess, key), err::kFileNotFound);
  EXPECT_EQ(key, 0u);
}

// A value larger than the helpers' 4096-byte buffer is refused, and the size
// it needs is reported. With its stored terminator, a text of 4095
// characters is the longest that still fits.
TEST_F(Win32Registry, ValueBeyondTheBufferIsRefusedWithItsSize) {
  platform::KeyHandle key = CreateRecord();
  ASSERT_NE(key, 0u);
  std::string text;
  std::uint32_t size = 0;
  EXPECT_EQ(Write(key, "big", std::string(5000, 'x')), err::kSuccess);
  EXPECT_EQ(Read(key, "big", text, size), err::kMoreData);
  EXPECT_GE(size, 5000u);
  EXPECT_EQ(Write(key, "edge", std::string(4095, 'y')), err::kSuccess);
  EXPECT_EQ(Read(key, "edge", text, size), err::kSuccess);
  EXPECT_EQ(text, std::string(4095, 'y'));
  EXPECT_EQ(Write(key, "edge", std::string(4096, 'y')), err::kSuccess);
  EXPECT_EQ(Read(key, "edge", text, size), err::kMoreData);
  platform::registry().CloseKey(key);
}

// The hive itself is never deleted (the seam suite): this layer says so
// with ERROR_INVALID_PARAMETER.
TEST_F(Win32Registry, DeletingTheHiveIsAnInvalidParameter) {
  EXPECT_EQ(platform::registry().DeleteKey(""), err::kInvalidParameter);
  EXPECT_EQ(platform::registry().DeleteKey("\\"), err::kInvalidParameter);
}

// The process token and the backup privilege.
TEST(Win32Privilege, BackupPrivilegeIsEnabledOrRefusedAsNotAssigned) {
  platform::System& system = platform::system();
  platform::TokenHandle token = 0;
  const std::uint32_t tokenAccess = platform::token::kAdjustPrivileges | platform::token::kQuery;
  ASSERT_TRUE(system.OpenProcessToken(tokenAccess, token));
  ASSERT_NE(token, 0u);
  const bool enabled = system.EnablePrivilege(token, "SeBackupPrivilege");
  if (testkit::UnderWine()) {
    EXPECT_TRUE(enabled);  // Wine's user holds every privilege
  }
  // Success means the token now has it enabled; an account without the
  // privilege must be told so.
  EXPECT_EQ(PrivilegeEnabled(token, "SeBackupPrivilege"), enabled);
  if (!enabled) {
    EXPECT_EQ(static_cast<platform::ErrorCode>(::GetLastError()), static_cast<platform::ErrorCode>(ERROR_NOT_ALL_ASSIGNED));
  }
  EXPECT_FALSE(system.EnablePrivilege(token, "SeNoSuchPrivilege"));
  EXPECT_EQ(static_cast<platform::ErrorCode>(::GetLastError()), static_cast<platform::ErrorCode>(ERROR_NO_SUCH_PRIVILEGE));
  system.CloseToken(token);
}

}  // namespace
