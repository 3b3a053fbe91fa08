// What the portable code relies on from the console concern, checked against
// the fake the unit tests use and this build's real layer, with standard
// output a pipe: every piece arrives whole and in order, its bytes unchanged
// in either encoding; a missing output answers ERROR_INVALID_HANDLE. What a
// console shows is the Windows layer's own test.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/platform.h"
#include "support/captured_output.h"
#include "support/fakes.h"
#include "support/seam.h"

namespace {

using platform::Encoding;

struct FakeLayer {
  static constexpr const char* kName = "Fake";
  platform::Console& console() { return fake; }
  void Begin(bool closed) {
    fake.pieces.clear();
    fake.result = closed ? platform::err::kInvalidHandle : platform::err::kSuccess;
  }
  std::string End() { return fake.result == platform::err::kSuccess ? fake.Written() : std::string(); }
  fakes::FakeConsole fake;
};

struct RealLayer {
  static constexpr const char* kName = "Real";
  platform::Console& console() { return platform::console(); }
  void Begin(bool closed) {
    capture = std::make_unique<testkit::CapturedOutput>(closed ? testkit::CapturedOutput::Kind::kClosed
                                                               : testkit::CapturedOutput::Kind::kPipe);
  }
  // The platform's line ends read back as "\n" (the Windows layer's own
  // tests check them).
  std::string End() {
    const std::string bytes = capture->Take();
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (testkit::kEol[1] != '\0' && bytes.compare(i, 2, testkit::kEol) == 0) continue;
      out += bytes[i];
    }
    return out;
  }
  std::unique_ptr<testkit::CapturedOutput> capture;
};

template <typename Layer>
class ConsoleConformance : public ::testing::Test {
 protected:
  Layer layer_;
};

using Layers = ::testing::Types<FakeLayer, RealLayer>;
TYPED_TEST_SUITE(ConsoleConformance, Layers, seam::LayerNames);

TYPED_TEST(ConsoleConformance, PiecesReachAPipeWholeAndUnchanged) {
  struct Piece {
    std::string text;
    Encoding encoding;
  };
  const Piece pieces[] = {
      {"DRIVE\tHOST\n", Encoding::kAnsi},
      {"E:\t10.0.0.5\tCaf\xE9\n", Encoding::kAnsi},
      {"", Encoding::kAnsi},
      {"{\"volumename\":\"Caf\xC3\xA9\"}\n", Encoding::kUtf8},
      {".", Encoding::kAnsi},
  };
  platform::ErrorCode results[5] = {};
  this->layer_.Begin(false);
  for (std::size_t i = 0; i < 5; ++i) results[i] = this->layer_.console().WriteOutput(pieces[i].text, pieces[i].encoding);
  const std::string written = this->layer_.End();

  EXPECT_EQ(written, "DRIVE\tHOST\nE:\t10.0.0.5\tCaf\xE9\n{\"volumename\":\"Caf\xC3\xA9\"}\n.");
  for (const platform::ErrorCode result : results) EXPECT_EQ(result, platform::err::kSuccess);
}

TYPED_TEST(ConsoleConformance, MissingOutputAnswersInvalidHandle) {
  this->layer_.Begin(true);
  const platform::ErrorCode result = this->layer_.console().WriteOutput("add success\n", Encoding::kAnsi);
  EXPECT_EQ(this->layer_.End(), "");
  EXPECT_EQ(result, platform::err::kInvalidHandle);
}

}  // namespace
