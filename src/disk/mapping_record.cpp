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

std::string MappingKeyPathFromQuery(const std::string& host, const std::string& location) {
  std::string name = location;
  replaceBackslashes(name);
  return std::string(kMountPoints2) + "##" + host + name;
}

std::string MappingKeyPathFromRemote(const std::string& remoteName) {
  std::string name = remoteName;
  replaceBackslashes(name);
  return std::string(kMountPoints2) + name;
}

}  // namespace VkSharemapper
