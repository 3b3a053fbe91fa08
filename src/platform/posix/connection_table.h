// The per-user, per-session table of network drive connections.
#pragma once

#include <cstdint>

namespace platform {
namespace posix {

// Bit mask of the drive letters that have a connection (bit 0 is A:).
std::uint32_t ConnectedLetterMask();

}  // namespace posix
}  // namespace platform
