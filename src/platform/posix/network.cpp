// Placeholder until SMB connections exist: no connections at all.
#include "platform/network.h"

namespace platform {
namespace {
class NoNetwork : public Network {
 public:
  ErrorCode AddConnection(const NetResource&, const std::string&, const std::string&, std::uint32_t) override {
    return err::kBadNetPath;
  }
  ErrorCode CancelConnection(const std::string&, std::uint32_t, bool) override { return err::kNotConnected; }
  ErrorCode GetConnection(const std::string&, char*, std::uint32_t&) override { return err::kNotConnected; }
  bool GetVolumeName(const std::string&, char*, std::uint32_t) override { return false; }
};
}  // namespace

Network& RealNetwork() {
  static NoNetwork instance;
  return instance;
}
}  // namespace platform
