// The diagnostic logger's messages, and that a disabled level costs nothing.
#include <gtest/gtest.h>

#include <log4cxx/level.h>

#include "log/diag_logger.h"
#include "support/temp_store.h"

namespace {

int g_built = 0;
const char* Piece() {
  ++g_built;
  return "piece";
}

void EmitBoth(const log4cxx::LoggerPtr& logger) {
  SM_DIAG_DEBUG(logger, 7, "debug " << Piece());
  SM_DIAG_ERROR(logger, 8, "error " << Piece() << " code:" << static_cast<unsigned long>(4294967295u));
}

TEST(DiagLogger, CarriesTextLevelFixedLineAndFunctionAndBuildsOnlyEnabledMessages) {
  testkit::LoggerCapture capture("DiagLoggerTest");
  const log4cxx::LoggerPtr logger = VkSharemapper::diag::GetLogger("DiagLoggerTest");
  EmitBoth(logger);
  ASSERT_EQ(2u, capture.messages().size());
  const testkit::Message& debug = capture.messages()[0];
  const testkit::Message& error = capture.messages()[1];
  EXPECT_EQ("DEBUG", debug.level);
  EXPECT_EQ("debug piece", debug.text);
  EXPECT_EQ(7, debug.line);
  EXPECT_EQ("ERROR", error.level);
  EXPECT_EQ("error piece code:4294967295", error.text);
  EXPECT_EQ(8, error.line);
  EXPECT_EQ("EmitBoth", error.method);
  EXPECT_NE(std::string::npos, error.file.find("diag_logger_test.cpp"));

  g_built = 0;
  logger->setLevel(log4cxx::Level::getError());
  EmitBoth(logger);
  EXPECT_EQ(1, g_built);
  logger->setLevel(log4cxx::Level::getOff());
  EmitBoth(logger);
  EXPECT_EQ(1, g_built);
  EXPECT_EQ(3u, capture.messages().size());
}

}  // namespace
