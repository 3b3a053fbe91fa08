// The registry helpers against the real key store.
#include <gtest/gtest.h>

#include <string>

#include "disk/mapping_record.h"
#include "platform/platform.h"
#include "support/temp_store.h"
#include "utils/vkreg.h"

namespace {

int Add(std::string key, std::string name, std::string value) {
  return DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, key, name, value);
}
int Read(std::string key, std::string name, std::string& value) {
  return DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value);
}
int Delete(std::string key) { return DAVeruv::deleteRegisterItem(DAVeruv::kCurrentUser, key); }
bool KeyExists(const std::string& key) {
  platform::KeyHandle handle = 0;
  if (platform::registry().OpenKey(key, platform::reg::kKeyRead, handle) != 0) return false;
  platform::registry().CloseKey(handle);
  return true;
}

TEST(VkregStore, WritesReplacesAndReadsBackExactly) {
  regtest::TempStore store;
  testkit::LoggerCapture capture;
  const std::string record = std::string(VkSharemapper::kMountPoints2) + "##srv#share";
  ASSERT_EQ(1, Add(record, "_VkUserId", "u-1"));
  ASSERT_EQ(1, Add(record, "_VkUserId", "u-2"));
  ASSERT_EQ(1, Add(record, "_LabelFromReg", std::string(4096, 'y')));  // the most that can be read
  EXPECT_TRUE(KeyExists("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer"));
  ASSERT_EQ(6u, capture.messages().size());
  EXPECT_EQ("enter WriteRegister", capture.messages()[0].text);
  EXPECT_EQ(21, capture.messages()[0].line);
  EXPECT_EQ("leave WriteRegister", capture.messages()[1].text);
  EXPECT_EQ(51, capture.messages()[1].line);

  std::string value;
  EXPECT_EQ(1, Read(record, "_VkUserId", value));
  EXPECT_EQ("u-2", value);
  EXPECT_EQ(1, Read(record, "_LabelFromReg", value));
  EXPECT_EQ(std::string(4096, 'y'), value);
  EXPECT_EQ(1, Read("SOFTWARE\\microsoft\\windows\\currentversion\\explorer\\MOUNTPOINTS2\\##SRV#SHARE",
                    "_vkuserid", value));
  EXPECT_EQ("u-2", value);

  // n characters take n bytes, without a zero byte.
  platform::KeyHandle key = 0;
  ASSERT_EQ(0u, platform::registry().OpenKey(record, platform::reg::kKeyRead, key));
  char buffer[8];
  std::uint32_t type = 0, size = sizeof buffer;
  EXPECT_EQ(0u, platform::registry().QueryValue(key, "_VkUserId", type, buffer, size));
  EXPECT_EQ(3u, size);
  EXPECT_EQ(platform::reg::kTypeSz, type);
  platform::registry().CloseKey(key);
}

TEST(VkregStore, RefusesEmptyTextsAndValuesOverTheReadBuffer) {
  regtest::TempStore store;
  testkit::LoggerCapture capture;
  EXPECT_EQ(0, Add("Software\\K", "name", ""));
  EXPECT_TRUE(capture.HasError("param is missing, please check!"));
  EXPECT_FALSE(KeyExists("Software\\K"));
  ASSERT_EQ(1, Add("Software\\K", "big", std::string(4097, 'x')));
  std::string value = "untouched";
  EXPECT_EQ(0, Read("Software\\K", "big", value));
  EXPECT_TRUE(capture.HasError("RegQueryValueExA big failed!, error:234"));
  EXPECT_EQ(0, Read("Software\\Missing", "name", value));
  EXPECT_TRUE(capture.HasError("RegOpenKeyExA failed, subkey:Software\\Missing, error:2"));
  EXPECT_EQ("untouched", value);
}

TEST(VkregStore, DeletesWholeTreesAndCountsMissingKeysAsDeleted) {
  regtest::TempStore store;
  for (const char* key : {"S\\Tree\\A\\A1", "S\\Tree\\A\\A2\\Deep", "S\\Tree\\B", "S\\Tree", "S\\Treetop"}) {
    ASSERT_EQ(1, Add(key, "v", "1"));
  }
  EXPECT_EQ(1, Delete("S\\Tree\\"));
  EXPECT_FALSE(KeyExists("S\\Tree"));
  EXPECT_TRUE(KeyExists("S\\Treetop"));

  testkit::LoggerCapture capture;
  EXPECT_EQ(1, Delete("S\\Tree"));
  ASSERT_EQ(1u, capture.messages().size());
  EXPECT_EQ("Key not found.\n", capture.messages()[0].text);
  EXPECT_EQ(130, capture.messages()[0].line);
}

// A path that does not fit the working path is refused whole: cut, it would
// name another key, here a real one that must survive.
TEST(VkregStore, NeverWorksOnACutPath) {
  regtest::TempStore store;
  testkit::LoggerCapture capture;
  const std::string fits =
      "Software\\" + std::string(200, 'p') + "\\" + std::string(200, 'p') + "\\" + std::string(108, 'p');
  ASSERT_EQ(519u, fits.size());
  ASSERT_EQ(1, Add(fits, "v", "keep me"));
  const std::string longer = fits + "qq";
  std::string value;
  EXPECT_EQ(0, Add(longer, "v", "other"));
  EXPECT_TRUE(capture.HasError("RegCreateKeyEx failed, subkey:" + longer));
  EXPECT_EQ(0, Read(longer, "v", value));
  EXPECT_TRUE(capture.HasError("RegOpenKeyExA failed, subkey:" + longer + ", error:206"));
  EXPECT_EQ(0, Delete(longer));
  EXPECT_EQ(1, Read(fits, "v", value));
  EXPECT_EQ("keep me", value);

  // A subkey whose path no longer fits fails its branch, and so the parent's
  // deletion; what was deleted before it stays deleted.
  const std::string deepest =
      "Software\\Deep\\" + std::string(250, 'a') + "\\" + std::string(250, 'b') + "\\" + std::string(10, 'c');
  platform::KeyHandle key = 0;
  ASSERT_EQ(0u, platform::registry().CreateKey(deepest, platform::reg::kKeyAllAccess, key));
  platform::registry().CloseKey(key);
  ASSERT_EQ(1, Add("Software\\Deep\\0 first", "v", "x"));
  EXPECT_EQ(0, Delete("Software\\Deep"));
  EXPECT_TRUE(KeyExists(deepest));
  EXPECT_FALSE(KeyExists("Software\\Deep\\0 first"));

  EXPECT_EQ(0, Delete("\\"));  // nor is the root ever deleted
  EXPECT_TRUE(KeyExists("Software"));
}

}  // namespace
