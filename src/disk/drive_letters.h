// Which drive letters are free for a new network drive.
#pragma once

#include <cstdint>
#include <string>

namespace VkSharemapper {

// The highest letter ("Z:" first) that is neither in use (a volume, a
// connected drive, or a network connection the session reports: connected,
// remembered or with a name too long to show) nor in `skip` (bit 0 is A:).
// False when there is none.
bool HighestFreeLetter(std::uint32_t skip, std::string& drive);

// Bit of a drive "E:" in a letter mask; 0 for anything else.
std::uint32_t LetterBit(const std::string& drive);

}  // namespace VkSharemapper
