#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "suite.h"

namespace suite {
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

// Deletes a key tree the way the registry helpers do: deepest keys first,
// always asking for the subkey at index 0.
bool DeleteTree(const std::string& path) {
  platform::Registry& registry = platform::registry();
  if (registry.DeleteKey(path) == err::kSuccess) return true;
  platform::KeyHandle key = 0;
  const platform::ErrorCode opened = registry.OpenKey(path, reg::kKeyRead, key);
  if (opened == err::kFileNotFound) return true;
  if (opened != err::kSuccess) return false;
  bool ok = true;
  char name[260];
  std::uint32_t size = sizeof name;
  while (ok && registry.EnumKey(key, 0, name, size) == err::kSuccess) {
    ok = DeleteTree(path + "\\" + std::string(name, size));
    size = sizeof name;
  }
  registry.CloseKey(key);
  return registry.DeleteKey(path) == err::kSuccess;
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

}  // namespace

void RegistryTests() {
  check::Section("Registry");
  platform::Registry& registry = platform::registry();
  const std::string base =
      "Software\\SharemapperLayerTest-" + std::to_string(::GetCurrentProcessId());
  const std::string record = base + "\\MountPoints2\\##srv#pub#docs";
  ::RegDeleteTreeA(HKEY_CURRENT_USER, base.c_str());

  platform::KeyHandle key = 1;
  CHECK_EQ(registry.OpenKey(base, reg::kKeyAllAccess, key), err::kFileNotFound);
  CHECK_EQ(key, 0u);

  // Creation makes the missing parents; values are replaced in place and
  // come back with exactly the bytes stored, no terminator added.
  CHECK_EQ(registry.CreateKey(record, reg::kKeyAllAccess, key), err::kSuccess);
  if (!CHECK(key != 0)) return;
  std::string text;
  std::uint32_t size = 0;
  CHECK_EQ(Write(key, "_LabelFromReg", "Docs"), err::kSuccess);
  CHECK_EQ(Read(key, "_LabelFromReg", text, size), err::kSuccess);
  CHECK_EQ(text, std::string("Docs"));
  CHECK_EQ(Write(key, "_LabelFromReg", "Photos 2024"), err::kSuccess);
  CHECK_EQ(Read(key, "_LabelFromReg", text, size), err::kSuccess);
  CHECK_EQ(text, std::string("Photos 2024"));
  CHECK_EQ(Write(key, "_LabelFromReg", "Old"), err::kSuccess);  // shorter than before
  CHECK_EQ(Read(key, "_LabelFromReg", text, size), err::kSuccess);
  CHECK_EQ(text, std::string("Old"));
  CHECK_EQ(Read(key, "_VkUserId", text, size), err::kFileNotFound);

  // A value larger than the helpers' 4096-byte buffer is refused, and the
  // size it needs is reported. With its stored terminator, a text of 4095
  // characters is the longest that still fits.
  CHECK_EQ(Write(key, "big", std::string(5000, 'x')), err::kSuccess);
  CHECK_EQ(Read(key, "big", text, size), err::kMoreData);
  CHECK(size >= 5000u);
  CHECK_EQ(Write(key, "edge", std::string(4095, 'y')), err::kSuccess);
  CHECK_EQ(Read(key, "edge", text, size), err::kSuccess);
  CHECK_EQ(text, std::string(4095, 'y'));
  CHECK_EQ(Write(key, "edge", std::string(4096, 'y')), err::kSuccess);
  CHECK_EQ(Read(key, "edge", text, size), err::kMoreData);
  CHECK_EQ(registry.CloseKey(key), err::kSuccess);

  // The record is found again by a fresh open.
  CHECK_EQ(registry.OpenKey(record, reg::kKeyRead, key), err::kSuccess);
  CHECK_EQ(Read(key, "_LabelFromReg", text, size), err::kSuccess);
  CHECK_EQ(text, std::string("Old"));
  registry.CloseKey(key);

  // Enumeration: each subkey once, then ERROR_NO_MORE_ITEMS; a name buffer
  // too small for the name is refused.
  platform::KeyHandle sub = 0;
  CHECK_EQ(registry.CreateKey(base + "\\MountPoints2\\##srv#pub", reg::kKeyAllAccess, sub),
           err::kSuccess);
  registry.CloseKey(sub);
  CHECK_EQ(registry.OpenKey(base + "\\MountPoints2", reg::kKeyRead, key), err::kSuccess);
  std::set<std::string> names;
  char name[260];
  std::uint32_t index = 0;
  platform::ErrorCode status = err::kSuccess;
  for (;; ++index) {
    size = sizeof name;
    status = registry.EnumKey(key, index, name, size);
    if (status != err::kSuccess) break;
    names.insert(std::string(name, size));
  }
  CHECK_EQ(status, err::kNoMoreItems);
  CHECK_EQ(index, 2u);
  CHECK(names == (std::set<std::string>{"##srv#pub", "##srv#pub#docs"}));
  size = 4;
  CHECK_EQ(registry.EnumKey(key, 0, name, size), err::kMoreData);
  registry.CloseKey(key);

  // A key with subkeys cannot be deleted in one step; depth first it goes.
  CHECK(registry.DeleteKey(base) != err::kSuccess);
  CHECK(registry.DeleteKey(base + "\\MountPoints2") != err::kSuccess);
  CHECK_EQ(registry.OpenKey(record, reg::kKeyRead, key), err::kSuccess);
  registry.CloseKey(key);
  CHECK(DeleteTree(base));
  CHECK_EQ(registry.OpenKey(base, reg::kKeyRead, key), err::kFileNotFound);
  CHECK_EQ(registry.DeleteKey(base), err::kFileNotFound);

  // The hive itself is never deleted, whatever path reaches the layer.
  CHECK_EQ(registry.DeleteKey(""), err::kInvalidParameter);
  CHECK_EQ(registry.DeleteKey("\\"), err::kInvalidParameter);
  CHECK_EQ(registry.OpenKey("Software", reg::kKeyRead, key), err::kSuccess);
  registry.CloseKey(key);

  // The process token and the backup privilege.
  platform::TokenHandle token = 0;
  const std::uint32_t tokenAccess = reg::kTokenAdjustPrivileges | reg::kTokenQuery;
  if (CHECK(registry.OpenProcessToken(tokenAccess, token) && token != 0)) {
    const bool enabled = registry.EnablePrivilege(token, "SeBackupPrivilege");
    if (IsWine()) CHECK(enabled);  // Wine's user holds every privilege
    // Success means the token now has it enabled; an account without the
    // privilege must be told so.
    CHECK_EQ(PrivilegeEnabled(token, "SeBackupPrivilege"), enabled);
    if (!enabled) {
      CHECK_EQ(registry.LastError(), static_cast<platform::ErrorCode>(ERROR_NOT_ALL_ASSIGNED));
    }
    CHECK(!registry.EnablePrivilege(token, "SeNoSuchPrivilege"));
    CHECK_EQ(registry.LastError(), static_cast<platform::ErrorCode>(ERROR_NO_SUCH_PRIVILEGE));
    registry.CloseToken(token);
  }

  ::RegDeleteTreeA(HKEY_CURRENT_USER, base.c_str());
}

}  // namespace suite
