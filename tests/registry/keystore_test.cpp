// The Linux key store through the registry seam: registry semantics, where
// and how the store is kept.
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
using regtest::TempStore;

platform::Registry& Registry() { return platform::registry(); }

KeyHandle Create(const std::string& path) {
  KeyHandle key = 0;
  EXPECT_EQ(err::kSuccess, Registry().CreateKey(path, reg::kKeyAllAccess, key)) << path;
  return key;
}

TEST(KeyStore, IsCreatedOnlyByAWriteWithPrivateModes) {
  TempStore store;
  EXPECT_EQ(store.file(), fs::path(platform::posix::KeyStorePath()));
  KeyHandle key = 0;
  EXPECT_EQ(err::kFileNotFound, Registry().OpenKey("Software", reg::kKeyRead, key));
  EXPECT_EQ(err::kFileNotFound, Registry().DeleteKey("Software"));
  ASSERT_EQ(err::kSuccess, Registry().OpenKey("", reg::kKeyRead, key));
  char name[8];
  std::uint32_t size = sizeof name;
  EXPECT_EQ(err::kNoMoreItems, Registry().EnumKey(key, 0, name, size));
  Registry().CloseKey(key);
  EXPECT_FALSE(fs::exists(store.folder())) << "reading must not create the store";

  Registry().CloseKey(Create("Software"));
  EXPECT_EQ(fs::perms::owner_all, fs::status(store.folder()).permissions());
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(store.file()).permissions());

  // The values outlive the process's connection to the store.
  platform::posix::ResetKeyStore();
  EXPECT_EQ(err::kSuccess, Registry().OpenKey("SOFTWARE", reg::kKeyRead, key));
  Registry().CloseKey(key);
}

TEST(KeyStore, RefusesASymlinkedFolder) {
  TempStore store;
  fs::create_directories(store.base() / "elsewhere");
  fs::create_directory_symlink(store.base() / "elsewhere", store.folder());
  KeyHandle key = 0;
  EXPECT_EQ(err::kAccessDenied, Registry().CreateKey("Software", reg::kKeyAllAccess, key));
  EXPECT_TRUE(fs::is_empty(store.base() / "elsewhere"));
}

TEST(KeyStore, KeysFollowRegistryRules) {
  TempStore store;
  for (const char* path : {"Root\\beta", "Root\\Alpha\\Deep", "Root\\gamma", "Root\\ALPHA"}) {
    Registry().CloseKey(Create(path));
  }
  KeyHandle root = Create("root");
  std::string listed;
  char name[260];
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t size = sizeof name;
    const platform::ErrorCode code = Registry().EnumKey(root, index, name, size);
    if (code == err::kNoMoreItems) break;
    ASSERT_EQ(err::kSuccess, code);
    listed += std::string(name, size) + ";";
  }
  EXPECT_EQ("Alpha;beta;gamma;", listed);
  std::uint32_t tiny = 5;  // "Alpha" needs 6 with its terminator
  EXPECT_EQ(err::kMoreData, Registry().EnumKey(root, 0, name, tiny));

  EXPECT_EQ(err::kAccessDenied, Registry().DeleteKey("Root\\alpha"));  // has a subkey
  EXPECT_EQ(err::kAccessDenied, Registry().DeleteKey(""));
  EXPECT_EQ(err::kInvalidParameter, Registry().DeleteKey("Root\\\\beta"));
  EXPECT_EQ(err::kSuccess, Registry().DeleteKey("ROOT\\BETA\\"));
  EXPECT_EQ(err::kFileNotFound, Registry().DeleteKey("Root\\beta"));
  EXPECT_EQ(err::kSuccess, Registry().CloseKey(root));
  EXPECT_EQ(err::kInvalidHandle, Registry().CloseKey(root));
}

TEST(KeyStore, ValuesFollowRegistryRules) {
  TempStore store;
  KeyHandle key = Create("Values");
  const std::string binary("a\0b\xff", 4);
  ASSERT_EQ(err::kSuccess, Registry().SetValue(key, "Data", reg::kTypeBinary, binary.data(), 4));
  ASSERT_EQ(err::kSuccess, Registry().SetValue(key, "", reg::kTypeSz, "default", 7));

  char buffer[8];
  std::uint32_t type = 0, size = 3;
  EXPECT_EQ(err::kMoreData, Registry().QueryValue(key, "data", type, buffer, size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(err::kMoreData, Registry().LastError());
  size = sizeof buffer;
  ASSERT_EQ(err::kSuccess, Registry().QueryValue(key, "DATA", type, buffer, size));
  EXPECT_EQ(binary, std::string(buffer, size));
  EXPECT_EQ(reg::kTypeBinary, type);
  EXPECT_EQ(err::kSuccess, Registry().LastError());
  size = sizeof buffer;
  EXPECT_EQ(err::kFileNotFound, Registry().QueryValue(key, "Other", type, buffer, size));

  // The last error belongs to the thread that made the call.
  std::thread([] { Registry().DeleteKey("Missing"); }).join();
  EXPECT_EQ(err::kFileNotFound, Registry().LastError());

  KeyHandle readOnly = 0;
  ASSERT_EQ(err::kSuccess, Registry().OpenKey("values", reg::kKeyRead, readOnly));
  EXPECT_EQ(err::kAccessDenied, Registry().SetValue(readOnly, "Data", reg::kTypeSz, "x", 1));

  // A key deleted while open answers so on every handle to it.
  ASSERT_EQ(err::kSuccess, Registry().DeleteKey("Values"));
  size = sizeof buffer;
  EXPECT_EQ(err::kKeyDeleted, Registry().QueryValue(readOnly, "Data", type, buffer, size));
  EXPECT_EQ(err::kKeyDeleted, Registry().SetValue(key, "Data", reg::kTypeSz, "x", 1));
  size = sizeof buffer;
  EXPECT_EQ(err::kKeyDeleted, Registry().EnumKey(key, 0, buffer, size));
  KeyHandle again = Create("Values");  // a new key of the same name is another key
  size = sizeof buffer;
  EXPECT_EQ(err::kKeyDeleted, Registry().QueryValue(key, "", type, buffer, size));
  for (KeyHandle handle : {key, readOnly, again}) Registry().CloseKey(handle);
}

}  // namespace
