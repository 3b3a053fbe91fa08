// The registry helpers over a registry that fails on demand: a wrapper of
// the real key store that records the calls and injects faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "registry_test_support.h"
#include "utils/vkreg.h"

namespace {

using platform::ErrorCode;
using platform::KeyHandle;
using platform::TokenHandle;
namespace err = platform::err;

class FaultyRegistry : public platform::Registry {
 public:
  bool tokenFails = false, privilegeFails = false;
  ErrorCode createFails = 0, setFails = 0, openFails = 0, queryFails = 0;
  std::string deleteFailsFor;  // DeleteKey of exactly this path fails
  std::string ghost;           // listed as the first subkey, though it does not exist
  int enumCalls = 0;
  std::vector<std::string> calls, deleted;
  std::set<KeyHandle> open;
  int tokensOpen = 0;

  ErrorCode CreateKey(const std::string& path, std::uint32_t access, KeyHandle& key) override {
    calls.push_back("create " + path + " " + std::to_string(access));
    return createFails ? createFails : Opened(real.CreateKey(path, access, key), &key);
  }
  ErrorCode OpenKey(const std::string& path, std::uint32_t access, KeyHandle& key) override {
    calls.push_back("open " + path + " " + std::to_string(access));
    return openFails ? openFails : Opened(real.OpenKey(path, access, key), &key);
  }
  ErrorCode SetValue(KeyHandle key, const std::string& name, std::uint32_t type, const char* data,
                     std::uint32_t size) override {
    calls.push_back("set " + name + " " + std::to_string(type) + " " + std::to_string(size));
    return setFails ? setFails : real.SetValue(key, name, type, data, size);
  }
  ErrorCode QueryValue(KeyHandle key, const std::string& name, std::uint32_t& type, char* buffer,
                       std::uint32_t& size) override {
    calls.push_back("query " + name + " " + std::to_string(size));
    return queryFails ? queryFails : real.QueryValue(key, name, type, buffer, size);
  }
  ErrorCode EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t& size) override {
    EXPECT_EQ(0u, index);
    EXPECT_EQ(260u, size);
    if (++enumCalls > 50) return err::kNoMoreItems;  // a runaway loop ends here
    if (ghost.empty()) return real.EnumKey(key, index, name, size);
    std::memcpy(name, ghost.c_str(), ghost.size() + 1);
    size = static_cast<std::uint32_t>(ghost.size());
    return err::kSuccess;
  }
  ErrorCode DeleteKey(const std::string& path) override {
    if (path == deleteFailsFor) return err::kAccessDenied;
    const ErrorCode code = real.DeleteKey(path);
    if (code == err::kSuccess) deleted.push_back(path);
    return code;
  }
  ErrorCode CloseKey(KeyHandle key) override {
    calls.push_back("close");
    EXPECT_EQ(1u, open.erase(key)) << "closed a key that was not open";
    return real.CloseKey(key);
  }
  ErrorCode BeginGroup(bool write) override { return real.BeginGroup(write); }
  ErrorCode EndGroup() override { return real.EndGroup(); }
  // The process token is the system's; its calls go to the same record.
  struct Token : platform::System {
    explicit Token(FaultyRegistry& registry) : owner(registry) {}
    FaultyRegistry& owner;
    platform::System& real = platform::system();
    std::uint32_t LogicalDrives() override { return real.LogicalDrives(); }
    platform::LocalTime LocalTimeNow() override { return real.LocalTimeNow(); }
    std::uint64_t CurrentThreadId() override { return real.CurrentThreadId(); }
    bool CurrentDirectory(std::string& out) override { return real.CurrentDirectory(out); }
    void ProtectSecret(const std::string& secret) override { real.ProtectSecret(secret); }
    bool OpenProcessToken(std::uint32_t access, TokenHandle& token) override {
      owner.calls.push_back("token " + std::to_string(access));
      if (owner.tokenFails) return false;
      ++owner.tokensOpen;
      token = 77;
      return true;
    }
    bool EnablePrivilege(TokenHandle token, const std::string& name) override {
      owner.calls.push_back("privilege " + std::to_string(token) + " " + name);
      return !owner.privilegeFails;
    }
    void CloseToken(TokenHandle) override { --owner.tokensOpen; }
  } token{*this};

 private:
  // Takes the handle's address: it is only written by the call beside it.
  ErrorCode Opened(ErrorCode code, const KeyHandle* key) {
    if (code == err::kSuccess) open.insert(*key);
    return code;
  }
  platform::Registry& real = platform::registry();
};

class VkregFake : public ::testing::Test {
 protected:
  void SetUp() override { installed.emplace(&fake, &fake.token); }
  void TearDown() override {
    installed.reset();
    EXPECT_TRUE(fake.open.empty()) << "a key was left open";
    EXPECT_EQ(0, fake.tokensOpen) << "the token was left open";
  }
  int Add(std::string key, std::string name, std::string value) {
    return DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, key, name, value);
  }
  int Read(std::string key, std::string name, std::string& value) {
    return DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value);
  }
  int Delete(std::string key) { return DAVeruv::deleteRegisterItem(DAVeruv::kCurrentUser, key); }
  std::vector<std::pair<int, std::string>> Errors(const std::string& function) {
    std::vector<std::pair<int, std::string>> errors;
    for (const testkit::Message& m : capture.messages()) {
      EXPECT_EQ("DAVeruv", m.className);
      EXPECT_EQ(function, m.method);
      EXPECT_NE(std::string::npos, m.file.find("vkreg.cpp"));
      if (m.level == "ERROR") errors.emplace_back(m.line, m.text);
    }
    return errors;
  }

  regtest::TempStore store;
  FaultyRegistry fake;
  std::optional<platform::Override> installed;
  testkit::LoggerCapture capture;
};

TEST_F(VkregFake, WriteCallsAndFailures) {
  fake.privilegeFails = true;  // not checked
  ASSERT_EQ(1, Add("Software\\K", "Name", "abc"));
  EXPECT_EQ((std::vector<std::string>{"token 40", "privilege 77 SeBackupPrivilege", "create Software\\K 983103",
                                      "set Name 1 3", "close"}),
            fake.calls);

  fake.calls.clear();
  fake.tokenFails = true;
  EXPECT_EQ(0, Add("Software\\K", "Name", "abc"));
  fake.tokenFails = false;
  fake.createFails = err::kAccessDenied;
  EXPECT_EQ(0, Add("Software\\K", "Name", "abc"));
  fake.createFails = 0;
  fake.setFails = err::kDiskFull;
  EXPECT_EQ(0, Add("Software\\K", "Name", "abc"));
  EXPECT_EQ(0, Add("Software\\K", "", "abc"));
  EXPECT_EQ((std::vector<std::pair<int, std::string>>{{32, "get current process failed"},
                                                      {42, "RegCreateKeyEx failed, subkey:Software\\K"},
                                                      {48, "RegSetValueEx set Name: abc failed!"},
                                                      {25, "param is missing, please check!"}}),
            Errors("addRegisterKey"));
  EXPECT_EQ(1, std::count(fake.calls.begin(), fake.calls.end(), "close"));
}

TEST_F(VkregFake, ReadCallsAndFailuresQuoteTheFailingCode) {
  std::string value;
  ASSERT_EQ(1, Add("Software\\K", "Name", "abc"));
  fake.calls.clear();
  ASSERT_EQ(1, Read("Software\\K", "Name", value));
  EXPECT_EQ((std::vector<std::string>{"token 40", "privilege 77 SeBackupPrivilege", "open Software\\K 983103",
                                      "query Name 4096", "close"}),
            fake.calls);
  capture.Clear();

  value = "untouched";
  fake.queryFails = err::kMoreData;
  EXPECT_EQ(0, Read("Software\\K", "Name", value));
  fake.openFails = err::kBadDb;
  EXPECT_EQ(0, Read("Software\\K", "Name", value));
  fake.tokenFails = true;
  EXPECT_EQ(0, Read("Software\\K", "Name", value));
  EXPECT_EQ(0, Read("Software\\K", "", value));
  EXPECT_EQ("untouched", value);
  EXPECT_EQ((std::vector<std::pair<int, std::string>>{{232, "RegQueryValueExA Name failed!, error:234"},
                                                      {224, "RegOpenKeyExA failed, subkey:Software\\K, error:1009"},
                                                      {213, "get current process failed"},
                                                      {206, "param is missing, please check!"}}),
            Errors("ReadRegisterKey"));
}

TEST_F(VkregFake, DeleteGoesDepthFirstAndStopsAtAFailingBranch) {
  for (const char* key : {"S\\A\\X", "S\\B\\Y\\Z", "S\\C", "T"}) ASSERT_EQ(1, Add(key, "v", "1"));
  capture.Clear();
  fake.deleteFailsFor = "S\\C";
  EXPECT_EQ(0, Delete("S"));
  EXPECT_EQ((std::vector<std::string>{"S\\A\\X", "S\\A", "S\\B\\Y\\Z", "S\\B\\Y", "S\\B"}), fake.deleted);
  EXPECT_NE(fake.calls.end(), std::find(fake.calls.begin(), fake.calls.end(), "open S 131097"));
  EXPECT_TRUE(capture.messages().empty());

  fake.deleteFailsFor.clear();
  fake.openFails = err::kAccessDenied;
  EXPECT_EQ(0, Delete("S"));
  EXPECT_EQ((std::vector<std::pair<int, std::string>>{{134, "Error opening key.\n"}}), Errors("deleteRegisterItem"));
}

// A subkey that is still listed after its deletion answered success (it
// cannot be found under the name it is listed by) ends the loop instead of
// being asked for forever.
TEST_F(VkregFake, DeleteEndsWhenASubkeyKeepsComingBack) {
  ASSERT_EQ(1, Add("S", "v", "1"));
  fake.ghost = "Ghost";
  fake.deleteFailsFor = "S";
  EXPECT_EQ(0, Delete("S"));
  EXPECT_EQ(2, fake.enumCalls);
}

}  // namespace
