// Placeholder until the key store exists: every operation fails.
#include "platform/registry.h"

namespace platform {
namespace {
class UnavailableRegistry : public Registry {
 public:
  ErrorCode CreateKey(const std::string&, std::uint32_t, KeyHandle&) override { return err::kCantOpen; }
  ErrorCode OpenKey(const std::string&, std::uint32_t, KeyHandle&) override { return err::kFileNotFound; }
  ErrorCode SetValue(KeyHandle, const std::string&, std::uint32_t, const char*, std::uint32_t) override {
    return err::kInvalidHandle;
  }
  ErrorCode QueryValue(KeyHandle, const std::string&, std::uint32_t&, char*, std::uint32_t&) override {
    return err::kInvalidHandle;
  }
  ErrorCode EnumKey(KeyHandle, std::uint32_t, char*, std::uint32_t&) override { return err::kNoMoreItems; }
  ErrorCode DeleteKey(const std::string&) override { return err::kFileNotFound; }
  ErrorCode CloseKey(KeyHandle) override { return err::kSuccess; }
  bool OpenProcessToken(std::uint32_t, TokenHandle& token) override {
    token = 1;
    return true;
  }
  bool EnablePrivilege(TokenHandle, const std::string&) override { return true; }
  void CloseToken(TokenHandle) override {}
  ErrorCode LastError() override { return err::kSuccess; }
};
}  // namespace

Registry& RealRegistry() {
  static UnavailableRegistry instance;
  return instance;
}
}  // namespace platform
