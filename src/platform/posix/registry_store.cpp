// Linux implementation of the registry: key handles and the Windows calling
// conventions on top of the per-user key store.
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/posix/registry_keystore.h"
#include "platform/posix/registry_store.h"
#include "platform/registry.h"

namespace platform {
namespace {

using posix::KeyId;

// Access rights a key handle needs for each operation (KEY_READ and
// KEY_ALL_ACCESS include them).
constexpr std::uint32_t kQueryValue = 0x0001;        // KEY_QUERY_VALUE
constexpr std::uint32_t kSetValue = 0x0002;          // KEY_SET_VALUE
constexpr std::uint32_t kEnumerateSubKeys = 0x0008;  // KEY_ENUMERATE_SUB_KEYS

// Name limits of the Windows registry.
constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxValueName = 16383;

// The registry calls leave their result as the thread's last error.
thread_local ErrorCode t_lastError = err::kSuccess;

ErrorCode Answer(ErrorCode code) {
  t_lastError = code;
  return code;
}

// Windows hands names over as zero-terminated strings: a name ends at its
// first zero byte.
std::string CName(const std::string& text) { return std::string(text.c_str()); }

// Splits a key path into its names. One trailing backslash is allowed; an
// empty name anywhere else, or one longer than the registry allows, is not.
ErrorCode SplitPath(const std::string& text, std::vector<std::string>& names) {
  names.clear();
  std::string path = CName(text);
  if (path.empty()) return err::kSuccess;
  if (path.back() == '\\') path.pop_back();
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find('\\', start);
    const std::size_t length = (end == std::string::npos ? path.size() : end) - start;
    if (length == 0 || length > kMaxKeyName) return err::kInvalidParameter;
    names.push_back(path.substr(start, length));
    if (end == std::string::npos) return err::kSuccess;
    start = end + 1;
  }
}

class PosixRegistry : public Registry {
 public:
  ErrorCode CreateKey(const std::string& path, std::uint32_t access, KeyHandle& key) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    ErrorCode code = SplitPath(path, names);
    KeyId id = posix::kRootKey;
    if (code == err::kSuccess) code = store_.CreateKey(names, id);
    if (code == err::kSuccess) key = NewHandle(id, access);
    return Answer(code);
  }

  ErrorCode OpenKey(const std::string& path, std::uint32_t access, KeyHandle& key) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    ErrorCode code = SplitPath(path, names);
    KeyId id = posix::kRootKey;
    if (code == err::kSuccess) code = store_.FindKey(names, id);
    if (code == err::kSuccess) key = NewHandle(id, access);
    return Answer(code);
  }

  ErrorCode SetValue(KeyHandle key, const std::string& name, std::uint32_t type, const char* data,
                     std::uint32_t size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    KeyId id = 0;
    ErrorCode code = Resolve(key, kSetValue, id);
    const std::string valueName = CName(name);
    if (code == err::kSuccess && (valueName.size() > kMaxValueName || (data == nullptr && size != 0))) {
      code = err::kInvalidParameter;
    }
    if (code == err::kSuccess) code = store_.SetValue(id, valueName, type, data, size);
    return Answer(code);
  }

  ErrorCode QueryValue(KeyHandle key, const std::string& name, std::uint32_t& type, char* buffer,
                       std::uint32_t& size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    KeyId id = 0;
    ErrorCode code = Resolve(key, kQueryValue, id);
    std::string data;
    std::uint32_t storedType = reg::kTypeNone;
    if (code == err::kSuccess) code = store_.QueryValue(id, CName(name), storedType, data);
    if (code != err::kSuccess) return Answer(code);

    type = storedType;
    const auto needed = static_cast<std::uint32_t>(data.size());
    if (buffer != nullptr && size < needed) {
      size = needed;
      return Answer(err::kMoreData);
    }
    if (buffer != nullptr && needed != 0) std::memcpy(buffer, data.data(), needed);
    size = needed;
    return Answer(err::kSuccess);
  }

  ErrorCode EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t& size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    KeyId id = 0;
    ErrorCode code = Resolve(key, kEnumerateSubKeys, id);
    if (code == err::kSuccess && name == nullptr) code = err::kInvalidParameter;
    std::string subkey;
    if (code == err::kSuccess) code = store_.EnumKey(id, index, subkey);
    if (code != err::kSuccess) return Answer(code);
    if (subkey.size() >= size) return Answer(err::kMoreData);  // no room for name and terminator
    std::memcpy(name, subkey.data(), subkey.size());
    name[subkey.size()] = '\0';
    size = static_cast<std::uint32_t>(subkey.size());
    return Answer(err::kSuccess);
  }

  ErrorCode DeleteKey(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    ErrorCode code = SplitPath(path, names);
    if (code == err::kSuccess) code = store_.DeleteKey(names);
    return Answer(code);
  }

  ErrorCode CloseKey(KeyHandle key) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return Answer(handles_.erase(key) == 1 ? err::kSuccess : err::kInvalidHandle);
  }

  // Linux has no token privileges: opening the token and enabling a
  // privilege in it always succeed.
  bool OpenProcessToken(std::uint32_t, TokenHandle& token) override {
    std::lock_guard<std::mutex> lock(mutex_);
    token = nextHandle_;
    nextHandle_ += 4;
    tokens_.insert(token);
    Answer(err::kSuccess);
    return true;
  }

  bool EnablePrivilege(TokenHandle token, const std::string&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool known = tokens_.count(token) == 1;
    Answer(known ? err::kSuccess : err::kInvalidHandle);
    return known;
  }

  void CloseToken(TokenHandle token) override {
    std::lock_guard<std::mutex> lock(mutex_);
    tokens_.erase(token);
  }

  ErrorCode LastError() override { return t_lastError; }

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    store_.Close();
    handles_.clear();
    tokens_.clear();
  }

 private:
  struct OpenedKey {
    KeyId id;
    std::uint32_t access;
  };

  KeyHandle NewHandle(KeyId id, std::uint32_t access) {
    const KeyHandle handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = OpenedKey{id, access};
    return handle;
  }

  ErrorCode Resolve(KeyHandle key, std::uint32_t right, KeyId& id) const {
    const auto found = handles_.find(key);
    if (found == handles_.end()) return err::kInvalidHandle;
    if ((found->second.access & right) != right) return err::kAccessDenied;
    id = found->second.id;
    return err::kSuccess;
  }

  std::mutex mutex_;
  posix::KeyStore store_;
  std::map<KeyHandle, OpenedKey> handles_;
  std::set<TokenHandle> tokens_;
  KeyHandle nextHandle_ = 0x100;
};

PosixRegistry& Instance() {
  static PosixRegistry instance;
  return instance;
}

}  // namespace

Registry& RealRegistry() { return Instance(); }

namespace posix {
void ResetKeyStore() { Instance().Reset(); }
std::string KeyStorePath() { return KeyStore::ResolvePath(); }
}  // namespace posix

}  // namespace platform
