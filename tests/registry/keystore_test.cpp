// The Linux key store through the registry seam.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/registry_store.h"
#include "registry_test_support.h"

namespace {

namespace fs = std::filesystem;
namespace err = platform::err;
namespace reg = platform::reg;
using platform::KeyHandle;

platform::Registry& Registry() { return platform::registry(); }
KeyHandle Create(const std::string& path) {
  KeyHandle key = 0;
  EXPECT_EQ(err::kSuccess, Registry().CreateKey(path, reg::kKeyAllAccess, key)) << path;
  return key;
}

TEST(KeyStore, IsCreatedOnlyByAWriteAndKeptPrivate) {
  regtest::TempStore store;
  EXPECT_EQ(store.file, fs::path(platform::posix::KeyStorePath()));
  KeyHandle key = 0;
  EXPECT_EQ(err::kFileNotFound, Registry().OpenKey("Software", reg::kKeyRead, key));
  EXPECT_EQ(err::kFileNotFound, Registry().DeleteKey("Software"));
  EXPECT_FALSE(fs::exists(store.file.parent_path())) << "reading must not create the store";

  Registry().CloseKey(Create("Software"));
  EXPECT_EQ(fs::perms::owner_all, fs::status(store.file.parent_path()).permissions());
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(store.file).permissions());
  platform::posix::ResetKeyStore();
  EXPECT_EQ(err::kSuccess, Registry().OpenKey("SOFTWARE", reg::kKeyRead, key));
  Registry().CloseKey(key);

  // A folder that leads elsewhere is refused.
  regtest::TempStore other;
  fs::create_directories(other.base / "elsewhere");
  fs::create_directory_symlink(other.base / "elsewhere", other.file.parent_path());
  EXPECT_EQ(err::kAccessDenied, Registry().CreateKey("Software", reg::kKeyAllAccess, key));
  EXPECT_TRUE(fs::is_empty(other.base / "elsewhere"));
}

TEST(KeyStore, FollowsTheRegistrysRules) {
  regtest::TempStore store;
  for (const char* path : {"Root\\beta", "Root\\Alpha\\Deep", "Root\\gamma", "Root\\ALPHA"}) {
    Registry().CloseKey(Create(path));
  }
  KeyHandle root = Create("root");
  std::string listed;
  char name[8];
  std::uint32_t size = sizeof name;
  for (std::uint32_t i = 0; Registry().EnumKey(root, i, name, size) == err::kSuccess; ++i, size = sizeof name) {
    listed += std::string(name, size) + ";";
  }
  EXPECT_EQ("Alpha;beta;gamma;", listed);  // in order, ignoring case, keeping it
  EXPECT_EQ(err::kNoMoreItems, Registry().LastError());
  size = 5;  // "Alpha" needs 6 with its terminator
  EXPECT_EQ(err::kMoreData, Registry().EnumKey(root, 0, name, size));

  EXPECT_EQ(err::kAccessDenied, Registry().DeleteKey("Root\\alpha"));  // it has a subkey
  EXPECT_EQ(err::kAccessDenied, Registry().DeleteKey(""));
  EXPECT_EQ(err::kInvalidParameter, Registry().DeleteKey("Root\\\\beta"));
  EXPECT_EQ(err::kSuccess, Registry().DeleteKey("ROOT\\BETA\\"));

  KeyHandle key = Create("Values");
  const std::string binary("a\0b\xff", 4);
  ASSERT_EQ(err::kSuccess, Registry().SetValue(key, "Data", reg::kTypeBinary, binary.data(), 4));
  std::uint32_t type = 0;
  size = 3;
  EXPECT_EQ(err::kMoreData, Registry().QueryValue(key, "data", type, name, size));
  EXPECT_EQ(4u, size);
  ASSERT_EQ(err::kSuccess, Registry().QueryValue(key, "DATA", type, name, size));
  EXPECT_EQ(binary, std::string(name, size));
  EXPECT_EQ(reg::kTypeBinary, type);

  std::thread([] { Registry().DeleteKey("Missing"); }).join();
  EXPECT_EQ(err::kSuccess, Registry().LastError());  // each thread has its own

  KeyHandle reader = 0;
  ASSERT_EQ(err::kSuccess, Registry().OpenKey("values", reg::kKeyRead, reader));
  EXPECT_EQ(err::kAccessDenied, Registry().SetValue(reader, "Data", reg::kTypeSz, "x", 1));
  // Handles to a deleted key stay deleted, even once a new key takes its name.
  ASSERT_EQ(err::kSuccess, Registry().DeleteKey("Values"));
  KeyHandle again = Create("Values");
  size = sizeof name;
  EXPECT_EQ(err::kKeyDeleted, Registry().QueryValue(reader, "Data", type, name, size));
  EXPECT_EQ(err::kKeyDeleted, Registry().SetValue(key, "Data", reg::kTypeSz, "x", 1));
  EXPECT_EQ(err::kKeyDeleted, Registry().EnumKey(key, 0, name, size));
  for (KeyHandle handle : {key, reader, again, root}) EXPECT_EQ(err::kSuccess, Registry().CloseKey(handle));
  EXPECT_EQ(err::kInvalidHandle, Registry().CloseKey(root));
}

}  // namespace
