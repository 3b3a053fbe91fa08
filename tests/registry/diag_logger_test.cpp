// The diagnostic logger: what a message carries, and that a disabled level
// costs nothing.
#include <gtest/gtest.h>

#include <log4cxx/level.h>

#include <string>

#include "log/diag_logger.h"
#include "registry_test_support.h"

namespace {

int g_evaluated = 0;
std::string Piece() {
  ++g_evaluated;
  return "piece";
}

void EmitBoth(const log4cxx::LoggerPtr& logger) {
  SM_DIAG_DEBUG(logger, 7, "debug " << Piece());
  SM_DIAG_ERROR(logger, 8, "error " << Piece() << " code:" << static_cast<unsigned long>(4294967295u));
}

TEST(DiagLogger, MessagesCarryTextLevelFixedLineAndSignature) {
  regtest::Capture capture("DiagLoggerTest");
  EmitBoth(VkSharemapper::diag::GetLogger("DiagLoggerTest"));
  ASSERT_EQ(2u, capture.messages().size());
  const regtest::Message& debug = capture.messages()[0];
  const regtest::Message& error = capture.messages()[1];
  EXPECT_EQ("DEBUG", debug.level);
  EXPECT_EQ("debug piece", debug.text);
  EXPECT_EQ(7, debug.line);
  EXPECT_EQ("ERROR", error.level);
  EXPECT_EQ("error piece code:4294967295", error.text);
  EXPECT_EQ(8, error.line);
  EXPECT_EQ("EmitBoth", error.method);
  EXPECT_NE(std::string::npos, error.file.find("diag_logger_test.cpp"));
}

TEST(DiagLogger, DisabledLevelBuildsNoMessage) {
  regtest::Capture capture("DiagLoggerTest");
  const log4cxx::LoggerPtr logger = VkSharemapper::diag::GetLogger("DiagLoggerTest");
  g_evaluated = 0;
  logger->setLevel(log4cxx::Level::getError());
  EmitBoth(logger);
  EXPECT_EQ(1, g_evaluated);
  ASSERT_EQ(1u, capture.messages().size());
  EXPECT_EQ("ERROR", capture.messages()[0].level);

  logger->setLevel(log4cxx::Level::getOff());
  EmitBoth(logger);
  EXPECT_EQ(1, g_evaluated);
  EXPECT_EQ(1u, capture.messages().size());
}

}  // namespace
