// Removal of a directory tree on a drive, as used for the recycle bin of a
// freshly mapped share.
#pragma once

#include <string>

namespace VkSharemapper {

// Removes everything below path, then path itself. Entries whose names begin
// with "." stay, and so do the folders that hold them. A link (reparse point)
// below path is removed itself, never followed; a folder that the file ids
// of the listings show to be a link the server follows stays, unentered, and
// so does path when it is itself such a link. The first call that the server
// does not answer in time ends the walk. False when path cannot be listed.
bool deleteDirectoryTree(const std::string& path);

}  // namespace VkSharemapper
