// The key store when things go wrong: a file that cannot be written or is
// no store, a full disk, several runs at once, log4cxx left unconfigured.
#include <gtest/gtest.h>

#include <Poco/Environment.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/registry.h"
#include "support/temp_store.h"
#include "utils/registry_group.h"
#include "utils/vkreg.h"

namespace {

namespace fs = std::filesystem;
using testkit::Cleanup;
const std::string kKey = "Software\\Faults";

int Add(std::string key, std::string name, std::string value) {
  return DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, key, name, value);
}
int Read(std::string key, std::string name, std::string& value) {
  return DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value);
}
int Delete(std::string key) { return DAVeruv::deleteRegisterItem(DAVeruv::kCurrentUser, key); }

// Runs a system tool quietly; its exit status (127 when it cannot run).
int Tool(const std::string& program, const std::vector<std::string>& args) {
  static const testkit::Sandbox tools("tools");
  return tools.Command(program, args).status;
}

// A store of some size holding kKey = "kept", closed so the next call opens
// the file afresh.
void Populate(int keys = 1) {
  for (int i = 0; i < keys; ++i) ASSERT_EQ(1, Add(kKey + "\\K" + std::to_string(i), "n", std::string(100, 'x')));
  ASSERT_EQ(1, Add(kKey, "name", "kept"));
  platform::posix::ResetKeyStore();
}

TEST(KeyStoreFaults, AFileThatIsNoSoundStoreIsOnlyRead) {
  const std::vector<std::pair<const char*, std::function<void(std::string&)>>> damages = {
      {"garbage", [](std::string& bytes) { bytes = std::string(3000, 'G'); }},
      {"truncated", [](std::string& bytes) { bytes.resize(4096); }},            // header kept, tables lost
      {"another program's", [](std::string& bytes) { bytes[68] = 'X'; }},  // application id
      {"of another layout", [](std::string& bytes) { bytes[63] = 1; }},    // user version (big-endian at 60)
  };
  for (const auto& damage : damages) {
    SCOPED_TRACE(damage.first);
    regtest::TempStore store;
    Populate(200);
    std::string bytes = testkit::ReadFile(store.file);
    damage.second(bytes);
    testkit::WriteFile(store.file, bytes);

    testkit::LoggerCapture capture, storeLog("Sharemapper.KeyStore");
    std::string value = "untouched";
    EXPECT_EQ(0, Add(kKey + "\\New", "name", "v"));
    EXPECT_TRUE(capture.HasError("RegCreateKeyEx failed, subkey:" + kKey + "\\New"));
    EXPECT_EQ(0, Read(kKey, "name", value));
    EXPECT_TRUE(capture.HasError("RegOpenKeyExA failed, subkey:" + kKey + ", error:1009"));
    EXPECT_EQ(0, Delete(kKey));
    EXPECT_TRUE(capture.HasError("Error opening key.\n"));
    EXPECT_EQ("untouched", value);
    EXPECT_TRUE(storeLog.HasError("key store " + store.file.string() + ": "));
    EXPECT_TRUE(testkit::ReadFile(store.file) == bytes) << "the file changed";
  }
}

// An immutable file, which even root cannot write to.
TEST(KeyStoreFaults, AReadOnlyStoreIsStillRead) {
  regtest::TempStore store;
  Populate();
  if (Tool("chattr", {"+i", store.file.string()}) != 0) {
    GTEST_SKIP() << "chattr +i does not work here: no file can be made unwritable for root";
  }
  Cleanup unlock{[&] { Tool("chattr", {"-i", store.file.string()}); }};
  const std::string before = testkit::ReadFile(store.file);

  testkit::LoggerCapture capture, storeLog("Sharemapper.KeyStore");
  std::string value;
  EXPECT_EQ(1, Read(kKey, "name", value));
  EXPECT_EQ("kept", value);
  EXPECT_EQ(0, Add(kKey, "name", "changed"));
  EXPECT_TRUE(capture.HasError("RegSetValueEx set name: changed failed!"));
  EXPECT_EQ(0, Add(kKey + "\\New", "name", "v"));
  EXPECT_TRUE(capture.HasError("RegCreateKeyEx failed, subkey:" + kKey + "\\New"));
  EXPECT_EQ(0, Delete(kKey));
  EXPECT_TRUE(storeLog.HasError("key store " + store.file.string() + ": the file cannot be written"));
  {  // no group of writes begins; the calls still answer alone
    VkSharemapper::RegistryGroup group(true);
    EXPECT_EQ(platform::err::kAccessDenied, group.Began());
    EXPECT_EQ(1, Read(kKey, "name", value));
  }
  EXPECT_TRUE(testkit::ReadFile(store.file) == before) << "the file changed";
}

// A folder that cannot be written either, with the store's write-ahead log
// and its index beside it or not (a store copied on its own): the index
// cannot be made there, and the store is still read, as it is.
TEST(KeyStoreFaults, AStoreInAReadOnlyFolderIsStillRead) {
  for (const bool withLog : {true, false}) {
    SCOPED_TRACE(withLog ? "with its log" : "without its log");
    regtest::TempStore store;
    Populate();
    const fs::path folder = store.file.parent_path();
    if (!withLog) {
      fs::remove(store.file.string() + "-wal");
      fs::remove(store.file.string() + "-shm");
    }
    if (Tool("chattr", {"+i", store.file.string()}) != 0) {
      GTEST_SKIP() << "chattr +i does not work here: no file can be made unwritable for root";
    }
    Cleanup unlockFile{[&] { Tool("chattr", {"-i", store.file.string()}); }};
    ASSERT_EQ(0, Tool("chattr", {"+i", folder.string()}));
    Cleanup unlockFolder{[&] { Tool("chattr", {"-i", folder.string()}); }};
    const std::string before = testkit::ReadFile(store.file);
    const auto entries = [&] { return std::distance(fs::directory_iterator(folder), fs::directory_iterator()); };
    const auto files = entries();

    std::string value;
    EXPECT_EQ(1, Read(kKey, "name", value));
    EXPECT_EQ("kept", value);
    EXPECT_EQ(1, Read(kKey + "\\K0", "n", value));
    EXPECT_EQ(0, Add(kKey, "name", "changed"));
    platform::posix::ResetKeyStore();
    EXPECT_TRUE(testkit::ReadFile(store.file) == before) << "the file changed";
    EXPECT_EQ(files, entries());
  }
}

TEST(KeyStoreFaults, AFullDiskLosesNothing) {
  regtest::TempStore store;
  const fs::path small = fs::path(store.root) / "small";
  fs::create_directories(small);
  if (Tool("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", small.string()}) != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here to run out of room";
  }
  Cleanup unmount{[&] {
    platform::posix::ResetKeyStore();
    Tool("umount", {small.string()});
  }};
  Poco::Environment::set("XDG_CONFIG_HOME", small.string());
  platform::posix::ResetKeyStore();
  ASSERT_EQ(1, Add(kKey, "name", "kept"));
  {
    std::ofstream filler(small / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
  }
  testkit::LoggerCapture storeLog("Sharemapper.KeyStore");
  const std::string big(64 * 1024, 'b');
  EXPECT_EQ(0, Add(kKey + "\\Big", "name", big));
  EXPECT_TRUE(storeLog.HasError("key store "));
  std::string value;
  EXPECT_EQ(1, Read(kKey, "name", value));
  EXPECT_EQ("kept", value);

  fs::remove(small / "filler");
  EXPECT_EQ(1, Add(kKey + "\\Big", "name", big));
  EXPECT_EQ(1, Add(kKey + "\\Big", "small", "after"));
  EXPECT_EQ(1, Read(kKey + "\\Big", "small", value));
  EXPECT_EQ("after", value);
}

// Each round starts from no store at all, so the runs also race to create it.
TEST(KeyStoreFaults, ConcurrentRunsLoseNoWrite) {
  const int rounds = 3, writers = 6, perWriter = 20;
  for (int round = 0; round < rounds; ++round) {
    regtest::TempStore store;
    std::vector<std::thread> runs;
    std::vector<testkit::Run> results(writers);
    for (int w = 0; w < writers; ++w) {
      runs.emplace_back([&, w] {
        results[w] = store.Command(REGISTRY_CLIENT_PATH, {"write", "w" + std::to_string(w), std::to_string(perWriter)});
      });
    }
    for (std::thread& run : runs) run.join();
    for (const testkit::Run& result : results) EXPECT_EQ(0, result.status) << result.out << result.err;

    platform::posix::ResetKeyStore();
    int found = 0;
    for (int w = 0; w < writers; ++w) {
      for (int i = 0; i < perWriter; ++i) {
        const std::string name = "w" + std::to_string(w) + "-" + std::to_string(i);
        for (const std::string& key : {std::string("Shared"), "Writer w" + std::to_string(w)}) {
          std::string value;
          found += Read("Software\\Tests\\" + key, name, value) == 1 && value == "value of " + name;
        }
      }
    }
    EXPECT_EQ(writers * perWriter * 2, found) << "round " << round;
  }
}

// With no configuration to find, log4cxx prints nothing; a configuration it
// finds by itself gets the messages.
TEST(KeyStoreFaults, StandardErrorStaysCleanWhileAConfigurationRoutesMessages) {
  regtest::TempStore store;
  store.env["LOG4CXX_CONFIGURATION"] = "";
  testkit::Run plain = store.Command(REGISTRY_CLIENT_PATH, {"delete", "Software\\Missing"});
  EXPECT_EQ(0, plain.status);
  EXPECT_EQ("", plain.err);

  const fs::path log = fs::path(store.root) / "diag.log";
  testkit::WriteFile(fs::path(store.cwd) / "log4cxx.properties",
                     "log4j.rootLogger=DEBUG, F\nlog4j.appender.F=org.apache.log4j.FileAppender\n"
                     "log4j.appender.F.File=" + log.string() + "\n"
                     "log4j.appender.F.layout=org.apache.log4j.PatternLayout\n"
                     "log4j.appender.F.layout.ConversionPattern=%p %c %L %m%n\n");
  testkit::Run routed = store.Command(REGISTRY_CLIENT_PATH, {"delete", "Software\\Missing"});
  EXPECT_EQ(0, routed.status);
  EXPECT_EQ("", routed.err);
  EXPECT_EQ("ERROR DARezize 130 Key not found.\n\n", testkit::ReadFile(log));
}

}  // namespace
