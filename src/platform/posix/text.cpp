// Placeholder: text passes through unchanged.
#include "platform/text.h"

namespace platform {
namespace {
class PassThroughText : public Text {
 public:
  std::string OemToUtf8(const std::string& text) override { return text; }
};
}  // namespace

Text& RealText() {
  static PassThroughText instance;
  return instance;
}
}  // namespace platform
