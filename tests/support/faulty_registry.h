// A registry that records the calls made to it and fails on demand, in
// front of the real key store: for the tests of code that must clean up
// after each failing registry or token call.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fakes {

// The names the call record gives to access masks and value types.
inline std::string AccessName(std::uint32_t access) {
  if (access == platform::reg::kKeyAllAccess) return "all-access";
  if (access == platform::reg::kKeyRead) return "read";
  if (access == (platform::token::kAdjustPrivileges | platform::token::kQuery)) return "adjust-privileges+query";
  return std::to_string(access);
}
inline std::string TypeName(std::uint32_t type) {
  return type == platform::reg::kTypeSz ? "REG_SZ" : std::to_string(type);
}

// Passes each call on to the real registry unless its switch makes it fail;
// `calls` records the calls in order, `open` the keys not yet closed.
class FaultyRegistry : public platform::Registry {
 public:
  bool tokenFails = false, privilegeFails = false;
  platform::ErrorCode createFails = 0, setFails = 0, openFails = 0, queryFails = 0;
  std::string deleteFailsFor;  // DeleteKey of exactly this path fails
  std::string ghost;           // listed as the first subkey, though it does not exist
  int enumCalls = 0;
  std::vector<std::string> calls, deleted;
  std::set<platform::KeyHandle> open;
  int tokensOpen = 0;

  platform::ErrorCode CreateKey(const std::string& path, std::uint32_t access, platform::KeyHandle& key) override {
    calls.push_back("create " + path + " " + AccessName(access));
    return createFails ? createFails : Opened(real.CreateKey(path, access, key), &key);
  }
  platform::ErrorCode OpenKey(const std::string& path, std::uint32_t access, platform::KeyHandle& key) override {
    calls.push_back("open " + path + " " + AccessName(access));
    return openFails ? openFails : Opened(real.OpenKey(path, access, key), &key);
  }
  platform::ErrorCode SetValue(platform::KeyHandle key, const std::string& name, std::uint32_t type, const char* data,
                               std::uint32_t size) override {
    calls.push_back("set " + name + " " + TypeName(type) + " " + std::to_string(size));
    return setFails ? setFails : real.SetValue(key, name, type, data, size);
  }
  platform::ErrorCode QueryValue(platform::KeyHandle key, const std::string& name, std::uint32_t& type, char* buffer,
                                 std::uint32_t& size) override {
    calls.push_back("query " + name + " " + std::to_string(size));
    return queryFails ? queryFails : real.QueryValue(key, name, type, buffer, size);
  }
  platform::ErrorCode EnumKey(platform::KeyHandle key, std::uint32_t index, char* name, std::uint32_t& size) override {
    EXPECT_EQ(0u, index);
    // Room for the longest key name (255 characters) and its terminator.
    EXPECT_GE(size, 256u);
    if (++enumCalls > 50) return platform::err::kNoMoreItems;  // a runaway loop ends here
    if (ghost.empty()) return real.EnumKey(key, index, name, size);
    std::memcpy(name, ghost.c_str(), ghost.size() + 1);
    size = static_cast<std::uint32_t>(ghost.size());
    return platform::err::kSuccess;
  }
  platform::ErrorCode DeleteKey(const std::string& path) override {
    if (path == deleteFailsFor) return platform::err::kAccessDenied;
    const platform::ErrorCode code = real.DeleteKey(path);
    if (code == platform::err::kSuccess) deleted.push_back(path);
    return code;
  }
  platform::ErrorCode CloseKey(platform::KeyHandle key) override {
    calls.push_back("close");
    EXPECT_EQ(1u, open.erase(key)) << "closed a key that was not open";
    return real.CloseKey(key);
  }
  platform::ErrorCode BeginGroup(bool write) override { return real.BeginGroup(write); }
  platform::ErrorCode EndGroup() override { return real.EndGroup(); }
  // The process token is the system's; its calls go to the same record.
  struct Token : platform::System {
    static constexpr platform::TokenHandle kToken = 77;
    explicit Token(FaultyRegistry& registry) : owner(registry) {}
    FaultyRegistry& owner;
    platform::System& real = platform::system();
    std::uint32_t LogicalDrives() override { return real.LogicalDrives(); }
    platform::LocalTime LocalTimeNow() override { return real.LocalTimeNow(); }
    std::uint64_t CurrentThreadId() override { return real.CurrentThreadId(); }
    bool CurrentDirectory(std::string& out) override { return real.CurrentDirectory(out); }
    void ProtectSecret(const std::string& secret) override { real.ProtectSecret(secret); }
    bool OpenProcessToken(std::uint32_t access, platform::TokenHandle& token) override {
      owner.calls.push_back("token " + AccessName(access));
      if (owner.tokenFails) return false;
      ++owner.tokensOpen;
      token = kToken;
      return true;
    }
    // Recorded as "privilege <name>" when asked of the token just opened.
    bool EnablePrivilege(platform::TokenHandle token, const std::string& name) override {
      owner.calls.push_back(token == kToken ? "privilege " + name : "privilege of another token " + name);
      return !owner.privilegeFails;
    }
    void CloseToken(platform::TokenHandle) override { --owner.tokensOpen; }
  } token{*this};

 private:
  // Takes the handle's address: it is only written by the call beside it.
  platform::ErrorCode Opened(platform::ErrorCode code, const platform::KeyHandle* key) {
    if (code == platform::err::kSuccess) open.insert(*key);
    return code;
  }
  platform::Registry& real = platform::registry();
};

}  // namespace fakes
