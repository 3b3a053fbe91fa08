// The mapping record: a key under Explorer's MountPoints2 named after the
// share, holding the drive's label and the two caller-supplied ids.
#pragma once

#include <string>

namespace VkSharemapper {

// Parent of every mapping key, below HKEY_CURRENT_USER.
constexpr const char* kMountPoints2 = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2\\";

constexpr const char* kValueLabel = "_LabelFromReg";
constexpr const char* kValueUserId = "_VkUserId";
constexpr const char* kValueDiskSessionId = "_VkDiskSessionId";

// Replaces, in place, every backslash with "#".
void replaceBackslashes(std::string& text);

// The full key path for host and a location given without a leading
// backslash ("user\12345"): MountPoints2\##host#user#12345. Empty when the
// two make no remote name of a share (see MappingKeyPathFromRemote).
std::string MappingKeyPath(const std::string& host, const std::string& location);

// The key path for a remote name as the network reports it ("\\host\share"),
// or an empty text when the name is not "\\host\share[\path]" with a host
// and a share: such a name has no record, and no key may be named after it.
std::string MappingKeyPathFromRemote(const std::string& remoteName);

}  // namespace VkSharemapper
