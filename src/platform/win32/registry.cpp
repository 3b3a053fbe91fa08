// Windows implementation of the registry concern: every key lives below
// HKEY_CURRENT_USER; handles travel through the interface as integers.
#include <string>

#include "platform/registry.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

HKEY ToKey(KeyHandle key) { return reinterpret_cast<HKEY>(key); }

// True when the path names a key below the root rather than the root itself.
bool NamesSubkey(const std::string& path) {
  return path.find_first_not_of('\\') != std::string::npos;
}

class WinRegistry : public Registry {
 public:
  ErrorCode CreateKey(const std::string& path, std::uint32_t access, KeyHandle& key) override {
    HKEY created = nullptr;
    const LSTATUS status =
        ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          static_cast<REGSAM>(access), nullptr, &created, nullptr);
    key = status == ERROR_SUCCESS ? reinterpret_cast<KeyHandle>(created) : 0;
    return static_cast<ErrorCode>(status);
  }

  ErrorCode OpenKey(const std::string& path, std::uint32_t access, KeyHandle& key) override {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0,
                                           static_cast<REGSAM>(access), &opened);
    key = status == ERROR_SUCCESS ? reinterpret_cast<KeyHandle>(opened) : 0;
    return static_cast<ErrorCode>(status);
  }

  ErrorCode SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                     const char* data, std::uint32_t size) override {
    return static_cast<ErrorCode>(::RegSetValueExA(ToKey(key), name.c_str(), 0,
                                                   static_cast<DWORD>(type),
                                                   reinterpret_cast<const BYTE*>(data),
                                                   static_cast<DWORD>(size)));
  }

  ErrorCode QueryValue(KeyHandle key, const std::string& name, std::uint32_t& type, char* buffer,
                       std::uint32_t& size) override {
    DWORD valueType = REG_NONE;
    DWORD length = static_cast<DWORD>(size);
    const LSTATUS status = ::RegQueryValueExA(ToKey(key), name.c_str(), nullptr, &valueType,
                                              reinterpret_cast<BYTE*>(buffer), &length);
    type = static_cast<std::uint32_t>(valueType);
    size = static_cast<std::uint32_t>(length);
    return static_cast<ErrorCode>(status);
  }

  ErrorCode EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t& size) override {
    DWORD length = static_cast<DWORD>(size);
    FILETIME lastWrite{};
    const LSTATUS status = ::RegEnumKeyExA(ToKey(key), static_cast<DWORD>(index), name, &length,
                                           nullptr, nullptr, nullptr, &lastWrite);
    size = static_cast<std::uint32_t>(length);
    return static_cast<ErrorCode>(status);
  }

  ErrorCode DeleteKey(const std::string& path) override {
    // An empty name would make the system delete the key the handle refers
    // to, here the whole per-user hive; only keys below it may go.
    if (!NamesSubkey(path)) return err::kInvalidParameter;
    return static_cast<ErrorCode>(::RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str()));
  }

  ErrorCode CloseKey(KeyHandle key) override {
    return static_cast<ErrorCode>(::RegCloseKey(ToKey(key)));
  }

  // The registry has no transactions for a group of calls.
  ErrorCode BeginGroup(bool) override { return err::kSuccess; }
  ErrorCode EndGroup() override { return err::kSuccess; }
};

}  // namespace

Registry& RealRegistry() {
  static WinRegistry instance;
  return instance;
}

}  // namespace platform
