// What the portable code relies on from the text concern, checked against
// the fake the unit tests use and this build's real layer: ASCII stays as it
// is in every code page, and a text ends at its first zero byte. What
// becomes of the bytes above 127 depends on the code page: the layers' own
// tests.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "support/fakes.h"
#include "support/seam.h"

namespace {

struct FakeLayer {
  static constexpr const char* kName = "Fake";
  platform::Text& text() { return fake; }
  fakes::FakeText fake;
};

struct RealLayer {
  static constexpr const char* kName = "Real";
  platform::Text& text() { return platform::text(); }
};

template <typename Layer>
class TextConformance : public ::testing::Test {
 protected:
  Layer layer_;
};

using Layers = ::testing::Types<FakeLayer, RealLayer>;
TYPED_TEST_SUITE(TextConformance, Layers, seam::LayerNames);

TYPED_TEST(TextConformance, AsciiStaysAsItIs) {
  std::string printable;
  for (char c = ' '; c <= '~'; ++c) printable += c;
  for (const std::string& text : {std::string(), std::string("Docs 2024"), printable}) {
    EXPECT_EQ(this->layer_.text().OemToUtf8(text), text);
  }
}

TYPED_TEST(TextConformance, TextEndsAtItsFirstZeroByte) {
  EXPECT_EQ(this->layer_.text().OemToUtf8(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(this->layer_.text().OemToUtf8(std::string("\0cd", 3)), "");
}

}  // namespace
