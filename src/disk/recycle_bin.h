// Removal of a directory tree on a drive, as used for the recycle bin of a
// freshly mapped share.
#pragma once

#include <string>

namespace VkSharemapper {

// Removes everything below path, then path itself. Entries whose names begin
// with "." stay, and so do the folders that hold them. A link (reparse point)
// is removed itself, never followed. False when path cannot be listed.
bool deleteDirectoryTree(const std::string& path);

// Removes everything below dir (not dir itself unless the listing ran to its
// end). The result is that of the last removal, or true after a complete walk.
bool deleteDirectoryContents(const std::string& dir);

// Longest path, terminator included, that the walk handles.
constexpr std::size_t kMaxPath = 260;

}  // namespace VkSharemapper
