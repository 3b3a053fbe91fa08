// Each test process gets a working directory of its own, so that parallel
// runs never share (and empty) one application log.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "log/applog.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string dir = ::testing::TempDir() + "sm_unit_XXXXXX";
  if (::mkdtemp(&dir[0]) == nullptr || ::chdir(dir.c_str()) != 0) return 1;
  VkSharemapper::AppLog.Reopen();
  const int result = RUN_ALL_TESTS();
  (void)std::system(("rm -rf '" + dir + "'").c_str());
  return result;
}
