// Each test process gets a working directory of its own, so that parallel
// runs never share (and empty) one application log.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "log/applog.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  namespace fs = std::filesystem;
  std::mt19937_64 random(static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                         std::random_device{}());
  fs::path dir;
  std::error_code error;
  for (int attempt = 0; attempt < 100; ++attempt) {
    dir = fs::path(::testing::TempDir()) / ("sm_unit_" + std::to_string(random()));
    if (fs::create_directory(dir, error)) break;
  }
  fs::current_path(dir, error);
  if (error) return 1;
  VkSharemapper::AppLog.Reopen();
  const int result = RUN_ALL_TESTS();
  // The log keeps its file open, and Windows deletes no open file: turn the
  // log off first (a plain file where its folder would be does that).
  const fs::path closing = dir / "closing";
  fs::create_directory(closing, error);
  std::ofstream(closing / "Applog") << "not a folder";
  fs::current_path(closing, error);
  VkSharemapper::AppLog.Reopen();
  fs::current_path(fs::temp_directory_path(), error);
  fs::remove_all(dir, error);
  return result;
}
