// The Linux key store through the registry seam.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <iterator>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/registry.h"
#include "support/temp_store.h"
#include "utils/registry_group.h"
#include "utils/vkreg.h"

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
  fs::create_directories(fs::path(other.root) / "elsewhere");
  fs::create_directory_symlink(fs::path(other.root) / "elsewhere", other.file.parent_path());
  EXPECT_EQ(err::kAccessDenied, Registry().CreateKey("Software", reg::kKeyAllAccess, key));
  EXPECT_TRUE(fs::is_empty(fs::path(other.root) / "elsewhere"));
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

  KeyHandle reader = 0;
  ASSERT_EQ(err::kSuccess, Registry().OpenKey("values", reg::kKeyRead, reader));
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

// Key look-ups are remembered within a process; a key that was deleted and
// made again, here or by another run, is found under its new identity.
TEST(KeyStore, AKeyMadeAgainIsFoundAgain) {
  regtest::TempStore store;
  auto add = [](std::string key, std::string name, std::string value) {
    return DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, key, name, value);
  };
  auto read = [](std::string key, std::string name) {
    std::string value;
    return DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value) == 1 ? value : "(failed)";
  };
  const std::string key = "Software\\Tests\\Writer a";
  ASSERT_EQ(1, add(key, "a-0", "first"));
  ASSERT_EQ("first", read(key, "a-0"));
  std::string copy = key;
  ASSERT_EQ(1, DAVeruv::deleteRegisterItem(DAVeruv::kCurrentUser, copy));
  ASSERT_EQ(1, add("SOFTWARE\\tests\\WRITER A", "a-0", "second"));
  EXPECT_EQ("second", read(key, "a-0"));

  for (const std::vector<std::string>& args : {std::vector<std::string>{"delete", key},
                                                std::vector<std::string>{"write", "a", "1"}}) {
    const testkit::Run run = store.Command(REGISTRY_CLIENT_PATH, args);
    ASSERT_EQ(0, run.status) << run.out << run.err;
  }
  EXPECT_EQ("value of a-0", read(key, "a-0"));
  ASSERT_EQ(1, add(key, "mine", "third"));
  EXPECT_EQ("third", read(key, "mine"));
}

// A store written with a rollback journal (as earlier versions left it) is
// read and written as before; each run leaves its commits in the file.
TEST(KeyStore, AStoreWithARollbackJournalKeepsWorking) {
  regtest::TempStore store;
  auto add = [](std::string key, std::string name, std::string value) {
    return DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, key, name, value);
  };
  auto read = [](std::string key, std::string name) {
    std::string value;
    return DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value) == 1 ? value : "(failed)";
  };
  ASSERT_EQ(1, add("Software\\Old", "name", "old"));
  platform::posix::ResetKeyStore();
  // Whatever lies beside the store, its commits are in the file once the run
  // is over.
  const auto logged = [&] {
    std::error_code error;
    const auto size = fs::file_size(store.file.string() + "-wal", error);
    return error ? 0 : size;
  };
  EXPECT_EQ(0u, logged());

  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(store.file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr));
  sqlite3_close(db);
  ASSERT_EQ(1, testkit::ReadFile(store.file)[18]) << "not a rollback-journal store";

  EXPECT_EQ("old", read("Software\\Old", "name"));
  EXPECT_EQ(1, add("Software\\Old", "name", "new"));
  EXPECT_EQ(1, add("Software\\New", "name", "newer"));
  platform::posix::ResetKeyStore();
  EXPECT_EQ(0u, logged());
  EXPECT_EQ("new", read("Software\\Old", "name"));
  EXPECT_EQ("newer", read("Software\\New", "name"));
}

std::string ReadElsewhere(const regtest::TempStore& store, const std::string& key, const std::string& name) {
  const testkit::Run run = store.Command(REGISTRY_CLIENT_PATH, {"read", key, name});
  return run.status == 0 ? run.out : "(failed) " + run.err;
}

std::string ReadHere(std::string key, std::string name) {
  std::string value = "(none)";
  DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value);
  return value;
}

int AddHere(std::string key, std::string name, std::string value) {
  return DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, key, name, value);
}

// Another run sees none of a group's writes until it ends, then all; the
// run that writes sees its own at once.
TEST(KeyStore, AGroupsWritesAreSeenTogether) {
  regtest::TempStore store;
  ASSERT_EQ(1, AddHere("Software\\Group", "a", "old"));
  {
    VkSharemapper::RegistryGroup group(true);
    ASSERT_EQ(err::kSuccess, group.Began());
    ASSERT_EQ(1, AddHere("Software\\Group", "a", "new"));
    ASSERT_EQ(1, AddHere("Software\\Group\\Sub", "b", "new"));
    EXPECT_EQ("new", ReadHere("Software\\Group\\Sub", "b"));
    EXPECT_EQ("old", ReadElsewhere(store, "Software\\Group", "a"));
    EXPECT_EQ("(none)", ReadElsewhere(store, "Software\\Group\\Sub", "b"));
    EXPECT_EQ(err::kSuccess, group.End());
  }
  EXPECT_EQ("new", ReadElsewhere(store, "Software\\Group", "a"));
  EXPECT_EQ("new", ReadElsewhere(store, "Software\\Group\\Sub", "b"));
}

// The reads of a group see the store as it was at their first; a write of
// the group's own goes alone and is seen.
TEST(KeyStore, AGroupsReadsSeeOneState) {
  regtest::TempStore store;
  const std::string key = "Software\\Tests\\Shared";
  ASSERT_EQ(1, AddHere(key, "g-0", "before"));
  {
    const VkSharemapper::RegistryGroup group(false);
    EXPECT_EQ("before", ReadHere(key, "g-0"));
    const testkit::Run writer = store.Command(REGISTRY_CLIENT_PATH, {"write", "g", "1"});
    ASSERT_EQ(0, writer.status) << writer.out << writer.err;
    EXPECT_EQ("before", ReadHere(key, "g-0"));
    EXPECT_EQ(1, AddHere(key, "mine", "written"));
    EXPECT_EQ("written", ReadHere(key, "mine"));
  }
  EXPECT_EQ("value of g-0", ReadHere(key, "g-0"));
  EXPECT_EQ("written", ReadElsewhere(store, key, "mine"));
}

// With no store, a group of reads makes none and finds nothing; a group of
// writes makes it.
TEST(KeyStore, AGroupOfReadsMakesNoStore) {
  regtest::TempStore store;
  {
    const VkSharemapper::RegistryGroup group(false);
    EXPECT_EQ("(none)", ReadHere("Software", "x"));
  }
  EXPECT_FALSE(fs::exists(store.file.parent_path()));
  VkSharemapper::RegistryGroup group(true);
  EXPECT_EQ(err::kSuccess, group.Began());
  EXPECT_TRUE(fs::exists(store.file));
}

}  // namespace

namespace {

fs::perms Perms(const fs::path& path) { return fs::symlink_status(path).permissions(); }

void ExpectPrivateStore(const regtest::TempStore& store) {
  EXPECT_EQ(fs::perms::owner_all, Perms(store.file.parent_path()));
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const fs::path path = store.file.string() + suffix;
    if (*suffix == '\0' || fs::exists(path)) {
      EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, Perms(path)) << path;
    }
  }
}

}  // namespace

// The umask of the run never decides the modes (0777 would leave files no
// later run could open), and a store that lost its owner's rights that way
// gets them back, with what it held.
TEST(KeyStore, ModesArePrivateWhateverTheUmaskAndAreRepaired) {
  for (const mode_t mask : {mode_t{0777}, mode_t{0}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    regtest::TempStore store;
    std::string key = "Software\\Modes", name = "name", value = "kept";
    const mode_t old = ::umask(mask);
    const int added = DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, key, name, value);
    ::umask(old);
    ASSERT_EQ(1, added);
    ExpectPrivateStore(store);

    platform::posix::ResetKeyStore();
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::error_code absent;  // a store without a log has no -wal, -shm
      fs::permissions(store.file.string() + suffix, fs::perms::none, fs::perm_options::replace, absent);
    }
    fs::permissions(store.file.parent_path(), fs::perms::none);
    value.clear();
    EXPECT_EQ(1, DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value));
    EXPECT_EQ("kept", value);
    ExpectPrivateStore(store);
  }
}

// A store others may only read (a folder made 0755 by hand, say) is made
// private again and used; one that group or others may write is refused.
TEST(KeyStore, OnlyAStoreOthersMayWriteIsRefused) {
  regtest::TempStore store;
  std::string key = "Software\\Modes", name = "name", value = "kept";
  ASSERT_EQ(1, DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, key, name, value));
  platform::posix::ResetKeyStore();
  fs::permissions(store.file, fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);
  fs::permissions(store.file.parent_path(), fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                                                fs::perms::others_exec, fs::perm_options::add);
  testkit::LoggerCapture storeLog("Sharemapper.KeyStore");
  EXPECT_EQ(1, DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value));
  EXPECT_EQ(1, DAVeruv::deleteRegisterItem(DAVeruv::kCurrentUser, key));
  ExpectPrivateStore(store);
  EXPECT_FALSE(storeLog.messages().empty());

  platform::posix::ResetKeyStore();
  fs::permissions(store.file.parent_path(), fs::perms::group_write, fs::perm_options::add);
  EXPECT_EQ(0, DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, key, name, value));
  EXPECT_TRUE(storeLog.HasError("key store " + store.file.string() + ": " + store.file.parent_path().string() +
                                " can be written by group or others"));
  EXPECT_EQ(fs::perms::owner_all | fs::perms::group_write, Perms(store.file.parent_path()));
}
