#include "disk/mapping_record.h"

namespace VkSharemapper {

void replaceBackslashes(std::string& text) {
  for (char& c : text) {
    if (c == '\\') c = '#';
  }
}

std::string MappingKeyPath(const std::string& host, const std::string& location) {
  std::string name = location;
  replaceBackslashes(name);
  return std::string(kMountPoints2) + "##" + host + "#" + name;
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
