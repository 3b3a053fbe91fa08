// Registry helpers: write, read and delete per-user registry entries.
//
// Every access happens under the current user's root. The helpers answer 1
// for success and 0 for failure and report what went wrong through the
// diagnostic logger "DARezize". The namespace name DAVeruv and the logger
// name DARezize are part of what the diagnostic log shows (its lines name
// the function and the logger), so they stay as they are.
#pragma once

#include <cstdint>
#include <string>

namespace DAVeruv {

// The root key argument of the helpers. It only names the root the caller
// means; the helpers always work below the current user's root. Kept apart
// from <windows.h>'s HKEY and HKEY_CURRENT_USER (a macro there), so both can
// be seen in one translation unit.
enum class RegRoot : std::uintptr_t {
  CurrentUser = 0x80000001u,
};
using HKEY = RegRoot;
constexpr RegRoot kCurrentUser = RegRoot::CurrentUser;

// Characters of a key path the helpers can work with, terminator included.
// Longer paths are refused (answer 0) rather than cut, so that no helper ever
// writes, reads or deletes a key other than the one it was given.
constexpr std::size_t kWorkingPathSize = 520;

// Largest value, in bytes, that ReadRegisterKey reads.
constexpr std::uint32_t kReadBufferSize = 4096;

// The line numbers that the helpers' diagnostic lines carry.
namespace diagline {
constexpr int kWriteEnter = 21;
constexpr int kWriteMissingParameter = 25;
constexpr int kWriteNoProcess = 32;
constexpr int kWriteCreateFailed = 42;
constexpr int kWriteSetFailed = 48;
constexpr int kWriteLeave = 51;
constexpr int kDeleteKeyNotFound = 130;
constexpr int kDeleteOpenFailed = 134;
constexpr int kReadMissingParameter = 206;
constexpr int kReadNoProcess = 213;
constexpr int kReadOpenFailed = 224;
constexpr int kReadQueryFailed = 232;
}  // namespace diagline

// Writes the string value `valueName` = `value` (REG_SZ, stored without a
// terminating zero) under `subKey`, creating the key and its missing parents.
// Empty arguments are refused.
int addRegisterKey(HKEY root, const std::string& subKey, const std::string& valueName, const std::string& value);

// Reads the value `valueName` of `subKey` into `value` (up to its first zero
// byte). `value` is left untouched on failure.
int ReadRegisterKey(HKEY root, const std::string& subKey, const std::string& valueName, std::string& value);

// Deletes `subKey` with everything below it, deepest keys first. A key that
// does not exist counts as deleted.
int deleteRegisterItem(HKEY root, const std::string& subKey);

}  // namespace DAVeruv
