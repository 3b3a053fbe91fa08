#include "platform/posix/connection_table.h"

namespace platform {
namespace posix {

// Placeholder until the connection table exists: no connections.
std::uint32_t ConnectedLetterMask() { return 0; }

}  // namespace posix
}  // namespace platform
