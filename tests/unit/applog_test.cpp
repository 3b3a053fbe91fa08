#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "log/applog.h"
#include "support/fakes.h"
#include "support/runner.h"

using VkSharemapper::AppLogFile;
using VkSharemapper::LogHead;

namespace {

// A new folder below the test process's own working directory.
std::string FreshDir(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::current_path() / ("applog_" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string() + "/";
}

}  // namespace

TEST(AppLog, LineLayoutIsUnpadded) {
  // The log itself lives on the real file system; only time and thread are fake.
  fakes::Installed fake(/*realFiles=*/true);
  fake.system.cwd = FreshDir("layout");
  {
    AppLogFile log;
    LogHead(log, "VkSharemapper::SambaDisk::Mount", 143, "INFO") << "mapping net disk sucessed" << std::endl;
    fake.system.time = {2031, 12, 31, 23, 59, 59, 999};
    fake.system.thread = 18446744073709551615ull;
    LogHead(log, "VkSharemapper::SambaDisk::Unmount", 202, "ERR") << "delete net disk failed, errno: "
                                                                    << static_cast<std::uint32_t>(2250) << std::endl;
  }
  EXPECT_EQ(testkit::ReadFile(fake.system.cwd + "Applog/VkSharemapper.log"),
            testkit::Native("[5124]2024-3-7 9:5:2:17 VkSharemapper::SambaDisk::Mount:143  INFO:  mapping net disk sucessed\n"
                        "[18446744073709551615]2031-12-31 23:59:59:999 VkSharemapper::SambaDisk::Unmount:202  ERR:  "
                        "delete net disk failed, errno: 2250\n"));
}

TEST(AppLog, EachStartEmptiesTheFile) {
  fakes::Installed fake(/*realFiles=*/true);
  fake.system.cwd = FreshDir("truncate");
  { AppLogFile first; first << "old line" << std::endl; }
  { AppLogFile second; second << "new" << std::endl; }
  EXPECT_EQ(testkit::ReadFile(fake.system.cwd + "Applog/VkSharemapper.log"), testkit::Native("new\n"));
}

TEST(AppLog, UnusableLocationsTurnTheLogOffQuietly) {
  fakes::Installed fake(/*realFiles=*/true);

  // A plain file where the folder should be: the open fails, writes vanish.
  fake.system.cwd = FreshDir("plainfile");
  { std::ofstream(fake.system.cwd + "Applog") << "not a folder"; }
  { AppLogFile log; log << "lost" << 42 << std::endl; }
  EXPECT_EQ(testkit::ReadFile(fake.system.cwd + "Applog"), "not a folder");

  // A working directory that does not exist: no folder can be made.
  fake.system.cwd = FreshDir("gone") + "missing/";
  { AppLogFile log; log << "lost" << std::endl; EXPECT_EQ(log.path(), ""); }

  // No working directory at all.
  fake.system.cwdKnown = false;
  { AppLogFile log; log << "lost" << std::endl; EXPECT_EQ(log.path(), ""); }
}
