// The per-user key store: keys with subkeys and named values, all below
// HKEY_CURRENT_USER.
#pragma once

#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace platform {

using KeyHandle = std::uintptr_t;

// Access masks and value types, as Windows numbers them.
namespace reg {
constexpr std::uint32_t kKeyRead = 0x20019;       // KEY_READ
constexpr std::uint32_t kKeyAllAccess = 0xF003F;  // KEY_ALL_ACCESS
constexpr std::uint32_t kTypeNone = 0;            // REG_NONE
constexpr std::uint32_t kTypeSz = 1;              // REG_SZ
constexpr std::uint32_t kTypeBinary = 3;          // REG_BINARY
}  // namespace reg

class Registry {
 public:
  virtual ~Registry() = default;

  // RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, REG_OPTION_NON_VOLATILE,
  // access, NULL, &key, NULL): opens the key, creating it and its missing
  // parents when absent.
  virtual ErrorCode CreateKey(const std::string& path, std::uint32_t access, KeyHandle& key) = 0;

  // RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, access, &key); kFileNotFound
  // when the key does not exist.
  virtual ErrorCode OpenKey(const std::string& path, std::uint32_t access, KeyHandle& key) = 0;

  // RegSetValueExA(key, name, 0, type, data, size): creates or replaces.
  virtual ErrorCode SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                             const char* data, std::uint32_t size) = 0;

  // RegQueryValueExA(key, name, NULL, &type, buffer, &size): on entry size is
  // the buffer's size, on success the number of bytes stored. kMoreData when
  // the value does not fit; kFileNotFound when there is no such value.
  virtual ErrorCode QueryValue(KeyHandle key, const std::string& name, std::uint32_t& type,
                               char* buffer, std::uint32_t& size) = 0;

  // RegEnumKeyExA(key, index, name, &size, ...): on entry size is the name
  // buffer's size in characters (terminator included), on success the name's
  // length. kNoMoreItems when there is no subkey at that index.
  virtual ErrorCode EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t& size) = 0;

  // RegDeleteKeyA(HKEY_CURRENT_USER, path): fails while the key has subkeys.
  virtual ErrorCode DeleteKey(const std::string& path) = 0;

  // RegCloseKey.
  virtual ErrorCode CloseKey(KeyHandle key) = 0;

  // A group of calls: those made between BeginGroup and EndGroup, which
  // still answer each what it would answer alone. On Linux the key store
  // makes them one transaction: a group that writes (`write`) lets no other
  // run see any of its writes before EndGroup commits them all, and a failed
  // call undoes only its own work; the reads of a group of reads see one
  // state of the store. EndGroup answers a failure of that commit, after
  // which none of the group's writes stays. A group that writes holds the
  // store's write lock throughout, so other runs' writes wait for it
  // (10 s at most): keep it to the registry calls. The Windows registry has no
  // such transaction: there both do nothing and answer 0. Groups may nest
  // (the outermost decides); a BeginGroup that fails begins none, and is
  // not to be ended.
  virtual ErrorCode BeginGroup(bool write) = 0;
  virtual ErrorCode EndGroup() = 0;
};

}  // namespace platform
