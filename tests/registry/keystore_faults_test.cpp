// The key store when things go wrong: a store that cannot be written, is
// not a store, runs out of room, or is used by several runs at once.
#include <gtest/gtest.h>

#include <Poco/Environment.h>
#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>
#include <Poco/StreamCopier.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/registry_store.h"
#include "registry_test_support.h"
#include "utils/vkreg.h"

namespace {

namespace fs = std::filesystem;
using DAVeruv::kCurrentUser;
using regtest::Capture;
using regtest::TempStore;

const std::string kKey = "Software\\Faults";

int Add(std::string key, std::string name, std::string value) {
  return DAVeruv::addRegisterKey(kCurrentUser, key, name, value);
}
int Read(std::string key, std::string name, std::string& value) {
  return DAVeruv::ReadRegisterKey(kCurrentUser, key, name, value);
}
int Delete(std::string key) { return DAVeruv::deleteRegisterItem(kCurrentUser, key); }

// A store holding kKey\Sub and kKey = "kept"; the connection is closed so
// the next call opens the file afresh.
void Populate() {
  ASSERT_EQ(1, Add(kKey + "\\Sub", "name", "below"));
  ASSERT_EQ(1, Add(kKey, "name", "kept"));
  platform::posix::ResetKeyStore();
}

// Every helper answers 0 with its message, and the file stays as it was.
void ExpectEveryHelperFails(const TempStore& store, const std::string& readError) {
  const std::string before = regtest::ReadFile(store.file());
  Capture capture;
  Capture storeLog("Sharemapper.KeyStore");
  std::string value = "untouched";
  EXPECT_EQ(0, Add(kKey + "\\New", "name", "v"));
  EXPECT_TRUE(capture.HasError("RegCreateKeyEx failed, subkey:" + kKey + "\\New"));
  EXPECT_EQ(0, Read(kKey, "name", value));
  EXPECT_TRUE(capture.HasError("RegOpenKeyExA failed, subkey:" + kKey + ", error:" + readError));
  EXPECT_EQ(0, Delete(kKey));
  EXPECT_TRUE(capture.HasError("Error opening key.\n"));
  EXPECT_EQ("untouched", value);
  EXPECT_TRUE(storeLog.HasError("key store " + store.file().string() + ": "));
  EXPECT_TRUE(regtest::ReadFile(store.file()) == before) << "the store file changed";
}

TEST(KeyStoreFaults, GarbageFileIsLeftAlone) {
  TempStore store;
  fs::create_directories(store.folder());
  regtest::WriteFile(store.file(), std::string(3000, 'G') + "not a key store");
  ExpectEveryHelperFails(store, "1009");
}

TEST(KeyStoreFaults, TruncatedStoreIsLeftAlone) {
  TempStore store;
  for (int i = 0; i < 200; ++i) ASSERT_EQ(1, Add(kKey + "\\K" + std::to_string(i), "name", std::string(100, 'x')));
  Populate();
  std::string bytes = regtest::ReadFile(store.file());
  ASSERT_GT(bytes.size(), 8192u);
  bytes.resize(4096);  // the header survives, the tables do not
  regtest::WriteFile(store.file(), bytes);
  ExpectEveryHelperFails(store, "1009");
}

TEST(KeyStoreFaults, AnotherProgramsDatabaseIsLeftAlone) {
  TempStore store;
  Populate();
  std::string bytes = regtest::ReadFile(store.file());
  bytes[68] = 'X';  // the application id of the file's header
  regtest::WriteFile(store.file(), bytes);
  ExpectEveryHelperFails(store, "1009");
}

// The file is made immutable, which even root cannot write through.
TEST(KeyStoreFaults, ReadOnlyStoreIsStillReadable) {
  TempStore store;
  Populate();
  if (regtest::RunTool("chattr", {"+i", store.file().string()}) != 0) {
    GTEST_SKIP() << "chattr +i does not work here, so no file can be made unwritable for root";
  }
  struct Unlock {
    fs::path file;
    ~Unlock() { regtest::RunTool("chattr", {"-i", file.string()}); }
  } unlock{store.file()};

  const std::string before = regtest::ReadFile(store.file());
  Capture capture;
  Capture storeLog("Sharemapper.KeyStore");
  std::string value;
  EXPECT_EQ(1, Read(kKey, "name", value));
  EXPECT_EQ("kept", value);
  EXPECT_EQ(0, Add(kKey, "name", "changed"));
  EXPECT_TRUE(capture.HasError("RegSetValueEx set name: changed failed!"));
  EXPECT_EQ(0, Add(kKey + "\\New", "name", "v"));
  EXPECT_TRUE(capture.HasError("RegCreateKeyEx failed, subkey:" + kKey + "\\New"));
  EXPECT_EQ(0, Delete(kKey));
  EXPECT_TRUE(storeLog.HasError("key store " + store.file().string() + ": the file cannot be written"));
  EXPECT_EQ(1, Read(kKey + "\\Sub", "name", value));
  EXPECT_TRUE(regtest::ReadFile(store.file()) == before) << "the store file changed";
}

// The store lives on a small file system that is then filled up.
TEST(KeyStoreFaults, FullDiskLosesNothing) {
  TempStore store;
  const fs::path mount = store.base() / "small";
  fs::create_directories(mount);
  if (regtest::RunTool("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", mount.string()}) != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here to run out of room";
  }
  struct Unmount {
    fs::path path;
    ~Unmount() {
      platform::posix::ResetKeyStore();
      regtest::RunTool("umount", {path.string()});
    }
  } unmount{mount};
  Poco::Environment::set("XDG_CONFIG_HOME", mount.string());
  platform::posix::ResetKeyStore();
  ASSERT_EQ(1, Add(kKey, "name", "kept"));

  {
    std::ofstream filler(mount / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
  }
  Capture capture;
  Capture storeLog("Sharemapper.KeyStore");
  EXPECT_EQ(0, Add(kKey + "\\Big", "name", std::string(64 * 1024, 'b')));
  EXPECT_TRUE(storeLog.HasError("key store "));
  std::string value;
  EXPECT_EQ(1, Read(kKey, "name", value));
  EXPECT_EQ("kept", value);

  fs::remove(mount / "filler");
  EXPECT_EQ(1, Add(kKey + "\\Big", "name", std::string(64 * 1024, 'b')));
  EXPECT_EQ(1, Read(kKey, "name", value));
}

TEST(KeyStoreFaults, ConcurrentRunsLoseNoWrite) {
  TempStore store;
  const int writers = 6;
  const int perWriter = 30;
  std::vector<std::string> args;
  std::vector<Poco::ProcessHandle> running;
  std::vector<std::unique_ptr<Poco::Pipe>> outputs;
  for (int w = 0; w < writers; ++w) {
    outputs.push_back(std::make_unique<Poco::Pipe>());
    running.push_back(Poco::Process::launch(REGISTRY_CLIENT_PATH,
                                            {"write", "w" + std::to_string(w), std::to_string(perWriter)},
                                            store.base().string(), nullptr, outputs.back().get(), nullptr));
  }
  for (int w = 0; w < writers; ++w) {
    std::string out;
    Poco::PipeInputStream stream(*outputs[w]);
    Poco::StreamCopier::copyToString(stream, out);
    EXPECT_EQ(0, running[w].wait()) << out;
  }

  platform::posix::ResetKeyStore();
  int found = 0;
  for (int w = 0; w < writers; ++w) {
    for (int i = 0; i < perWriter; ++i) {
      const std::string name = "w" + std::to_string(w) + "-" + std::to_string(i);
      for (const std::string& key : {std::string("Shared"), "Writer w" + std::to_string(w)}) {
        std::string value;
        if (Read("Software\\Sharemapper Tests\\" + key, name, value) == 1 && value == "value of " + name) ++found;
      }
    }
  }
  EXPECT_EQ(writers * perWriter * 2, found);
}

// log4cxx is left to its own default initialisation: with nothing to find it
// prints nothing, and a configuration it finds gets the messages.
TEST(KeyStoreFaults, StandardErrorStaysCleanWhileAConfigurationRoutesMessages) {
  TempStore store;
  const std::string missing = "Software\\Missing";
  regtest::RunResult plain = regtest::Run(REGISTRY_CLIENT_PATH, {"delete", missing}, store.base().string(),
                                          {{"LOG4CXX_CONFIGURATION", ""}});
  EXPECT_EQ(0, plain.status);
  EXPECT_EQ("", plain.err);

  const fs::path log = store.base() / "diag.log";
  regtest::WriteFile(store.base() / "log4cxx.properties",
                     "log4j.rootLogger=DEBUG, F\n"
                     "log4j.appender.F=org.apache.log4j.FileAppender\n"
                     "log4j.appender.F.File=" + log.string() + "\n"
                     "log4j.appender.F.layout=org.apache.log4j.PatternLayout\n"
                     "log4j.appender.F.layout.ConversionPattern=%p %c %L %m%n\n");
  regtest::RunResult routed = regtest::Run(REGISTRY_CLIENT_PATH, {"delete", missing}, store.base().string(),
                                           {{"LOG4CXX_CONFIGURATION", ""}});
  EXPECT_EQ(0, routed.status);
  EXPECT_EQ("", routed.err);
  EXPECT_EQ("ERROR DARezize 130 Key not found.\n\n", regtest::ReadFile(log));
}

}  // namespace
