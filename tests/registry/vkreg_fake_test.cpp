// The registry helpers against a fake registry that fails on demand and
// records every call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "registry_test_support.h"
#include "utils/vkreg.h"

namespace {

using platform::ErrorCode;
using platform::KeyHandle;
using platform::TokenHandle;
namespace err = platform::err;
namespace reg = platform::reg;

// Keys are paths without a trailing backslash, compared exactly; enough for
// the helpers, which pass back the names they enumerate.
class FakeRegistry : public platform::Registry {
 public:
  std::set<std::string> keys;
  std::map<std::string, std::string> values;  // "key|name" -> data

  bool tokenFails = false;
  bool privilegeFails = false;
  ErrorCode createFails = 0, setFails = 0, openFails = 0, queryFails = 0, lastError = 0;
  std::string deleteFailsFor;  // DeleteKey of this path fails
  bool enumRepeats = false;    // index 0 keeps naming the first subkey ever listed
  int enumCalls = 0;

  std::vector<std::string> calls;
  std::vector<std::string> deleted;
  std::map<KeyHandle, std::string> open;
  int tokensOpen = 0;

  ErrorCode CreateKey(const std::string& path, std::uint32_t access, KeyHandle& key) override {
    calls.push_back("create " + path + " " + std::to_string(access));
    if (createFails) return createFails;
    for (std::size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
      keys.insert(path.substr(0, at));
    }
    keys.insert(path);
    return Open(path, key);
  }
  ErrorCode OpenKey(const std::string& path, std::uint32_t access, KeyHandle& key) override {
    calls.push_back("open " + path + " " + std::to_string(access));
    if (openFails) return openFails;
    return keys.count(Trim(path)) ? Open(Trim(path), key) : err::kFileNotFound;
  }
  ErrorCode SetValue(KeyHandle key, const std::string& name, std::uint32_t type, const char* data,
                     std::uint32_t size) override {
    calls.push_back("set " + name + " " + std::to_string(type) + " " + std::to_string(size));
    if (setFails) return setFails;
    values[open.at(key) + "|" + name] = std::string(data, size);
    return 0;
  }
  ErrorCode QueryValue(KeyHandle key, const std::string& name, std::uint32_t& type, char* buffer,
                       std::uint32_t& size) override {
    calls.push_back("query " + name + " " + std::to_string(size));
    if (queryFails) return queryFails;
    const auto found = values.find(open.at(key) + "|" + name);
    if (found == values.end()) return err::kFileNotFound;
    if (found->second.size() > size) return err::kMoreData;
    type = reg::kTypeSz;
    size = static_cast<std::uint32_t>(found->second.size());
    std::memcpy(buffer, found->second.data(), size);
    return 0;
  }
  ErrorCode EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t& size) override {
    EXPECT_EQ(0u, index);
    EXPECT_EQ(260u, size);
    if (++enumCalls > 50) return err::kNoMoreItems;  // a runaway loop ends here
    const std::string prefix = open.at(key) + "\\";
    std::string child;
    if (enumRepeats && !firstListed.empty()) {
      child = firstListed;
    } else {
      const auto next = keys.upper_bound(prefix);
      if (next == keys.end() || next->compare(0, prefix.size(), prefix) != 0) return err::kNoMoreItems;
      child = next->substr(prefix.size());
      child = child.substr(0, child.find('\\'));
      if (firstListed.empty()) firstListed = child;
    }
    std::memcpy(name, child.c_str(), child.size() + 1);
    size = static_cast<std::uint32_t>(child.size());
    return 0;
  }
  ErrorCode DeleteKey(const std::string& path) override {
    calls.push_back("delete " + path);
    const std::string key = Trim(path);
    if (!keys.count(key)) return err::kFileNotFound;
    if (key == deleteFailsFor) return err::kAccessDenied;
    const auto next = keys.upper_bound(key + "\\");
    if (next != keys.end() && next->compare(0, key.size() + 1, key + "\\") == 0) return err::kAccessDenied;
    keys.erase(key);
    deleted.push_back(key);
    return 0;
  }
  ErrorCode CloseKey(KeyHandle key) override {
    calls.push_back("close");
    EXPECT_EQ(1u, open.erase(key)) << "closed a key that was not open";
    return 0;
  }
  bool OpenProcessToken(std::uint32_t access, TokenHandle& token) override {
    calls.push_back("token " + std::to_string(access));
    if (tokenFails) return false;
    ++tokensOpen;
    token = 77;
    return true;
  }
  bool EnablePrivilege(TokenHandle token, const std::string& name) override {
    calls.push_back("privilege " + std::to_string(token) + " " + name);
    return !privilegeFails;
  }
  void CloseToken(TokenHandle token) override {
    EXPECT_EQ(77u, token);
    --tokensOpen;
  }
  ErrorCode LastError() override { return lastError; }

 private:
  static std::string Trim(const std::string& path) {
    return !path.empty() && path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
  }
  ErrorCode Open(const std::string& path, KeyHandle& key) {
    key = nextHandle++;
    open[key] = path;
    return 0;
  }
  KeyHandle nextHandle = 10;
  std::string firstListed;
};

class VkregFake : public ::testing::Test {
 protected:
  void SetUp() override { previous = platform::InstallRegistry(&fake); }
  void TearDown() override {
    platform::InstallRegistry(previous);
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

  FakeRegistry fake;
  platform::Registry* previous = nullptr;
  regtest::Capture capture;
};

TEST_F(VkregFake, WriteCallsTheRegistryAsWindowsWouldBeCalled) {
  fake.privilegeFails = true;  // not checked
  ASSERT_EQ(1, Add("Software\\K", "Name", "abc"));
  EXPECT_EQ((std::vector<std::string>{"token 40", "privilege 77 SeBackupPrivilege", "create Software\\K 983103",
                                      "set Name 1 3", "close"}),
            fake.calls);
  EXPECT_EQ("abc", fake.values["Software\\K|Name"]);
}

TEST_F(VkregFake, WriteFailuresAreReportedWithTheirMessage) {
  const std::string function = "addRegisterKey";
  fake.tokenFails = true;
  EXPECT_EQ(0, Add("Software\\K", "Name", "abc"));
  fake.tokenFails = false;
  fake.createFails = err::kAccessDenied;
  EXPECT_EQ(0, Add("Software\\K", "Name", "abc"));
  fake.createFails = 0;
  fake.setFails = err::kDiskFull;
  EXPECT_EQ(0, Add("Software\\K", "Name", "abc"));
  EXPECT_EQ(0, Add("Software\\K", "", "abc"));

  std::vector<std::pair<int, std::string>> errors;
  for (const regtest::Message& m : capture.messages()) {
    EXPECT_EQ("DAVeruv", m.className);
    EXPECT_EQ(function, m.method);
    EXPECT_NE(std::string::npos, m.file.find("vkreg.cpp"));
    if (m.level == "ERROR") errors.emplace_back(m.line, m.text);
  }
  EXPECT_EQ((std::vector<std::pair<int, std::string>>{{32, "get current process failed"},
                                                      {42, "RegCreateKeyEx failed, subkey:Software\\K"},
                                                      {48, "RegSetValueEx set Name: abc failed!"},
                                                      {25, "param is missing, please check!"}}),
            errors);
  EXPECT_EQ(1, std::count(fake.calls.begin(), fake.calls.end(), "close"));  // only the key that was opened
}

TEST_F(VkregFake, ReadOpensWithFullAccessAndQuotesTheFailingCode) {
  fake.keys = {"Software", "Software\\K"};
  fake.values["Software\\K|Name"] = std::string("text\0tail", 9);
  std::string value;
  ASSERT_EQ(1, Read("Software\\K", "Name", value));
  EXPECT_EQ("text", value);
  EXPECT_NE(fake.calls.end(), std::find(fake.calls.begin(), fake.calls.end(), "open Software\\K 983103"));
  EXPECT_NE(fake.calls.end(), std::find(fake.calls.begin(), fake.calls.end(), "query Name 4096"));

  value = "untouched";
  fake.lastError = 1234;  // a stale thread error is not what failed
  fake.queryFails = err::kMoreData;
  EXPECT_EQ(0, Read("Software\\K", "Name", value));
  fake.openFails = err::kBadDb;
  EXPECT_EQ(0, Read("Software\\K", "Name", value));
  fake.tokenFails = true;
  EXPECT_EQ(0, Read("Software\\K", "Name", value));
  EXPECT_EQ(0, Read("Software\\K", "", value));
  EXPECT_EQ("untouched", value);

  std::vector<std::pair<int, std::string>> errors;
  for (const regtest::Message& m : capture.messages()) {
    EXPECT_EQ("ReadRegisterKey", m.method);
    errors.emplace_back(m.line, m.text);
  }
  EXPECT_EQ((std::vector<std::pair<int, std::string>>{
                {232, "RegQueryValueExA Name failed!, error:234"},
                {224, "RegOpenKeyExA failed, subkey:Software\\K, error:1009"},
                {213, "get current process failed"},
                {206, "param is missing, please check!"}}),
            errors);
}

TEST_F(VkregFake, DeleteRemovesDeepestKeysFirst) {
  fake.keys = {"S", "S\\A", "S\\A\\X", "S\\B", "S\\B\\Y", "S\\B\\Y\\Z", "T"};
  EXPECT_EQ(1, Delete("S"));
  EXPECT_EQ((std::vector<std::string>{"S\\A\\X", "S\\A", "S\\B\\Y\\Z", "S\\B\\Y", "S\\B", "S"}), fake.deleted);
  EXPECT_EQ(std::set<std::string>{"T"}, fake.keys);
  EXPECT_NE(fake.calls.end(), std::find(fake.calls.begin(), fake.calls.end(), "open S 131097"));
  EXPECT_TRUE(capture.messages().empty());
}

TEST_F(VkregFake, DeleteStopsAtTheFirstFailingBranch) {
  fake.keys = {"S", "S\\A", "S\\B", "S\\B\\Y", "S\\C"};
  fake.deleteFailsFor = "S\\B\\Y";
  EXPECT_EQ(0, Delete("S"));
  EXPECT_EQ(std::vector<std::string>{"S\\A"}, fake.deleted);  // what went first stays gone
  EXPECT_TRUE(capture.messages().empty());

  fake.openFails = err::kAccessDenied;
  EXPECT_EQ(0, Delete("S"));
  ASSERT_EQ(1u, capture.messages().size());
  EXPECT_EQ("Error opening key.\n", capture.messages()[0].text);
  EXPECT_EQ(134, capture.messages()[0].line);
  EXPECT_EQ("deleteRegisterItem", capture.messages()[0].method);
}

// A subkey still listed after its deletion answered success (here: it
// cannot be found under the name it is listed by) ends the loop instead of
// asking for it forever.
TEST_F(VkregFake, DeleteEndsWhenASubkeyKeepsComingBack) {
  fake.keys = {"S", "S\\Ghost"};
  fake.enumRepeats = true;
  fake.deleteFailsFor = "S";
  EXPECT_EQ(0, Delete("S"));
  EXPECT_EQ(std::vector<std::string>{"S\\Ghost"}, fake.deleted);
  EXPECT_EQ(2, fake.enumCalls);
}

TEST_F(VkregFake, NothingIsCalledForPathsThatDoNotFit) {
  const std::string tooLong(520, 'k');
  std::string value;
  EXPECT_EQ(0, Add(tooLong, "Name", "abc"));
  EXPECT_EQ(0, Read(tooLong, "Name", value));
  EXPECT_EQ(0, Delete(tooLong));
  EXPECT_EQ(0, Delete(""));
  for (const std::string& call : fake.calls) {
    EXPECT_TRUE(call.rfind("token", 0) == 0 || call.rfind("privilege", 0) == 0) << call;
  }
}

}  // namespace
