#include "disk/mapping_record.h"

namespace VkSharemapper {

void replaceBackslashes(std::string& text) {
  for (char& c : text) {
    if (c == '\\') c = '#';
  }
}

// The name is that of the remote name "\\host\location" with every backslash
// made "#", which is how the query finds the record again: a host that holds
// a backslash (a share written into it) must not put the record under a key
// of its own, where no query or delete would ever look.
std::string MappingKeyPath(const std::string& host, const std::string& location) {
  return MappingKeyPathFromRemote("\\\\" + host + "\\" + location);
}

// Only "\\host\share" and the paths below it name a mapping key. Anything
// else (an empty name, which a remembered connection can report, or one
// without host or share) would name MountPoints2 itself or a key beside the
// records, and deleting that would take Explorer's records of every drive.
std::string MappingKeyPathFromRemote(const std::string& remoteName) {
  if (remoteName.size() < 5 || remoteName.compare(0, 2, "\\\\") != 0) return std::string();
  const std::size_t hostEnd = remoteName.find('\\', 2);
  if (hostEnd == std::string::npos || hostEnd == 2) return std::string();
  if (hostEnd + 1 >= remoteName.size() || remoteName[hostEnd + 1] == '\\') return std::string();
  std::string name = remoteName;
  replaceBackslashes(name);
  return std::string(kMountPoints2) + name;
}

}  // namespace VkSharemapper
