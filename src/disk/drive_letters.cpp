#include "disk/drive_letters.h"

#include "platform/platform.h"

namespace VkSharemapper {
namespace {

constexpr std::uint32_t kNameBufferSize = 80;

// A letter that the session remembers a connection for is missing from
// GetLogicalDrives while the connection is not made, and an add to it is
// refused with 1202: the network is asked as well.
bool HasConnection(const std::string& drive) {
  char name[kNameBufferSize] = {};
  std::uint32_t length = kNameBufferSize;
  const platform::ErrorCode code = platform::network().GetConnection(drive, name, length);
  return code == platform::err::kSuccess || code == platform::err::kMoreData ||
         code == platform::err::kConnectionUnavail;
}

}  // namespace

std::uint32_t LetterBit(const std::string& drive) {
  if (drive.size() < 2 || drive[1] != ':') return 0;
  const char letter = platform::ToUpperAscii(drive[0]);
  return letter >= 'A' && letter <= 'Z' ? 1u << (letter - 'A') : 0;
}

bool HighestFreeLetter(std::uint32_t skip, std::string& drive) {
  const std::uint32_t inUse = platform::system().LogicalDrives() | skip;
  for (int bit = 25; bit >= 0; --bit) {
    if (inUse & (1u << bit)) continue;
    const std::string candidate = std::string(1, static_cast<char>('A' + bit)) + ":";
    if (HasConnection(candidate)) continue;
    drive = candidate;
    return true;
  }
  return false;
}

}  // namespace VkSharemapper
