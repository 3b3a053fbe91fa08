// The registry helpers over a registry that fails on demand: a wrapper of
// the real key store that records the calls and injects faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/temp_store.h"
#include "support/faulty_registry.h"
#include "utils/vkreg.h"

namespace {

namespace err = platform::err;

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
  fakes::FaultyRegistry fake;
  std::optional<platform::Override> installed;
  testkit::LoggerCapture capture;
};

TEST_F(VkregFake, WriteCallsAndFailures) {
  fake.privilegeFails = true;  // not checked
  ASSERT_EQ(1, Add("Software\\K", "Name", "abc"));
  // The backup privilege is enabled, the key made with full access, the value
  // written as text without a terminator, and the key closed again.
  EXPECT_EQ((std::vector<std::string>{"token adjust-privileges+query", "privilege SeBackupPrivilege",
                                      "create Software\\K all-access", "set Name REG_SZ 3", "close"}),
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
  // Read into a buffer of the documented size.
  EXPECT_EQ((std::vector<std::string>{"token adjust-privileges+query", "privilege SeBackupPrivilege",
                                      "open Software\\K all-access",
                                      "query Name " + std::to_string(DAVeruv::kReadBufferSize), "close"}),
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
  EXPECT_NE(fake.calls.end(), std::find(fake.calls.begin(), fake.calls.end(), "open S read"));
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
