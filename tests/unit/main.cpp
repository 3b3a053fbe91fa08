// Each test process gets a working directory of its own, so that parallel
// runs never share (and empty) one application log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "log/applog.h"
#include "support/runner.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  namespace fs = std::filesystem;
  const testkit::TempDir dir("unit");
  std::error_code error;
  fs::current_path(dir.path(), error);
  if (error) return 1;
  VkSharemapper::AppLog.Reopen();
  const int result = RUN_ALL_TESTS();
  // The log keeps its file open, and Windows deletes no open file: turn the
  // log off first (a plain file where its folder would be does that).
  const fs::path closing = fs::path(dir.path()) / "closing";
  fs::create_directory(closing, error);
  std::ofstream(closing / "Applog") << "not a folder";
  fs::current_path(closing, error);
  VkSharemapper::AppLog.Reopen();
  fs::current_path(fs::temp_directory_path(), error);
  return result;
}
