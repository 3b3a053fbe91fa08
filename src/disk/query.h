// The mapped network drives, one SambaDisk per letter in letter order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "disk/samba_disk.h"

namespace VkSharemapper {

using DriveList = std::vector<std::unique_ptr<SambaDisk>>;

// Appends one entry per network drive letter, A to Z. Always true.
bool QueryNetDisks(DriveList& list);

// The remote name of a drive letter as its connection reports it (also for a
// remembered connection). False when the letter has no network connection.
bool DriveRemoteName(const std::string& drive, std::string& remoteName);

// Splits a remote name "\\srv\pub\docs" into host "srv" and location
// "\pub\docs".
void SplitRemoteName(const std::string& remoteName, std::string& host, std::string& location);

}  // namespace VkSharemapper
