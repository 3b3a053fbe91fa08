// The registry helpers against the real key store.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "registry_test_support.h"
#include "utils/vkreg.h"

namespace {

using DAVeruv::kCurrentUser;
using regtest::Capture;
using regtest::TempStore;

int Add(std::string key, std::string name, std::string value) {
  return DAVeruv::addRegisterKey(kCurrentUser, key, name, value);
}
int Read(std::string key, std::string name, std::string& value) {
  return DAVeruv::ReadRegisterKey(kCurrentUser, key, name, value);
}
int Delete(std::string key) { return DAVeruv::deleteRegisterItem(kCurrentUser, key); }
bool KeyExists(const std::string& key) {
  platform::KeyHandle handle = 0;
  if (platform::registry().OpenKey(key, platform::reg::kKeyRead, handle) != 0) return false;
  platform::registry().CloseKey(handle);
  return true;
}

const std::string kRecord = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2\\##srv#share";

TEST(VkregStore, WritesReadsAndReplacesValuesCreatingParents) {
  TempStore store;
  Capture capture;
  ASSERT_EQ(1, Add(kRecord, "_LabelFromReg", "Team files"));
  ASSERT_EQ(1, Add(kRecord, "_VkUserId", "u-1"));
  ASSERT_EQ(1, Add(kRecord, "_VkUserId", "u-2"));
  EXPECT_TRUE(KeyExists("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer"));

  std::string label, user;
  EXPECT_EQ(1, Read(kRecord, "_LabelFromReg", label));
  EXPECT_EQ(1, Read(kRecord, "_VkUserId", user));
  EXPECT_EQ("Team files", label);
  EXPECT_EQ("u-2", user);

  // Entry and exit of each write, and nothing else.
  EXPECT_EQ((std::vector<std::string>{"enter WriteRegister", "leave WriteRegister", "enter WriteRegister",
                                      "leave WriteRegister", "enter WriteRegister", "leave WriteRegister"}),
            capture.Texts());
}

TEST(VkregStore, StoresTextWithoutTerminatorAndNamesIgnoreCase) {
  TempStore store;
  ASSERT_EQ(1, Add("Software\\Mixed Case\\Key", "ValueName", "12345"));
  std::string value;
  EXPECT_EQ(1, Read("SOFTWARE\\mixed case\\KEY", "valuename", value));
  EXPECT_EQ("12345", value);

  platform::Registry& registry = platform::registry();
  platform::KeyHandle key = 0;
  ASSERT_EQ(0u, registry.OpenKey("software\\MIXED CASE\\key", platform::reg::kKeyRead, key));
  char buffer[16];
  std::uint32_t type = 0, size = sizeof buffer;
  ASSERT_EQ(0u, registry.QueryValue(key, "VALUENAME", type, buffer, size));
  EXPECT_EQ(platform::reg::kTypeSz, type);
  EXPECT_EQ(5u, size);  // n characters, no zero byte
  registry.CloseKey(key);

  // The names keep the case they were created with.
  ASSERT_EQ(0u, registry.OpenKey("software", platform::reg::kKeyRead, key));
  char name[260];
  std::uint32_t length = sizeof name;
  ASSERT_EQ(0u, registry.EnumKey(key, 0, name, length));
  EXPECT_EQ("Mixed Case", std::string(name, length));
  registry.CloseKey(key);
}

TEST(VkregStore, RefusesMissingParametersAndTooLargeValues) {
  TempStore store;
  Capture capture;
  EXPECT_EQ(0, Add("Software\\K", "name", ""));
  EXPECT_EQ(0, Add("", "name", "v"));
  EXPECT_FALSE(KeyExists("Software\\K"));

  std::string value = "untouched";
  EXPECT_EQ(0, Read("Software\\K", "", value));
  EXPECT_EQ(0, Read("Software\\Missing", "name", value));
  EXPECT_TRUE(capture.HasError("RegOpenKeyExA failed, subkey:Software\\Missing, error:2"));

  ASSERT_EQ(1, Add("Software\\K", "big", std::string(4097, 'x')));
  ASSERT_EQ(1, Add("Software\\K", "fits", std::string(4096, 'y')));
  EXPECT_EQ(0, Read("Software\\K", "big", value));
  EXPECT_TRUE(capture.HasError("RegQueryValueExA big failed!, error:234"));
  EXPECT_EQ(0, Read("Software\\K", "absent", value));
  EXPECT_TRUE(capture.HasError("RegQueryValueExA absent failed!, error:2"));
  EXPECT_EQ("untouched", value);
  EXPECT_EQ(1, Read("Software\\K", "fits", value));
  EXPECT_EQ(std::string(4096, 'y'), value);
}

TEST(VkregStore, DeletesWholeTreesAndCountsMissingKeysAsDeleted) {
  TempStore store;
  ASSERT_EQ(1, Add("Software\\Tree\\A\\A1", "v", "1"));
  ASSERT_EQ(1, Add("Software\\Tree\\A\\A2\\Deep", "v", "2"));
  ASSERT_EQ(1, Add("Software\\Tree\\B", "v", "3"));
  ASSERT_EQ(1, Add("Software\\Tree", "v", "4"));
  ASSERT_EQ(1, Add("Software\\Treetop", "v", "5"));

  EXPECT_EQ(1, Delete("Software\\Tree\\"));
  EXPECT_FALSE(KeyExists("Software\\Tree"));
  EXPECT_TRUE(KeyExists("Software\\Treetop"));

  Capture capture;
  EXPECT_EQ(1, Delete("Software\\Tree"));
  ASSERT_EQ(1u, capture.messages().size());
  EXPECT_EQ("Key not found.\n", capture.messages()[0].text);
  EXPECT_EQ(130, capture.messages()[0].line);
}

// Paths that do not fit the working path are refused whole: a cut path would
// name another key, here a real one that must survive.
TEST(VkregStore, NeverWorksOnACutPath) {
  TempStore store;
  const std::string prefix =
      "Software\\" + std::string(200, 'p') + "\\" + std::string(200, 'p') + "\\" + std::string(108, 'p');
  ASSERT_EQ(519u, prefix.size());
  ASSERT_EQ(1, Add(prefix, "v", "keep me"));
  const std::string longer = prefix + "qq";

  Capture capture;
  EXPECT_EQ(0, Add(longer, "v", "other"));
  EXPECT_TRUE(capture.HasError("RegCreateKeyEx failed, subkey:" + longer));
  std::string value;
  EXPECT_EQ(0, Read(longer, "v", value));
  EXPECT_TRUE(capture.HasError("RegOpenKeyExA failed, subkey:" + longer + ", error:206"));
  EXPECT_EQ(0, Delete(longer));
  EXPECT_EQ(1, Read(prefix, "v", value));
  EXPECT_EQ("keep me", value);

  // A subkey whose full path no longer fits stops the deletion of its
  // parent; subkeys deleted before it stay deleted.
  const std::string parent = "Software\\Deep";
  const std::string deepest = parent + "\\" + std::string(250, 'a') + "\\" + std::string(250, 'b') + "\\" + std::string(10, 'c');
  platform::KeyHandle key = 0;
  ASSERT_EQ(0u, platform::registry().CreateKey(deepest, platform::reg::kKeyAllAccess, key));
  platform::registry().CloseKey(key);
  ASSERT_EQ(1, Add(parent + "\\0 first", "v", "x"));
  EXPECT_EQ(0, Delete(parent));
  EXPECT_TRUE(KeyExists(deepest));
  EXPECT_FALSE(KeyExists(parent + "\\0 first"));

  // Nor is the root ever deleted.
  EXPECT_EQ(0, Delete("\\"));
  EXPECT_TRUE(KeyExists("Software"));
}

}  // namespace
