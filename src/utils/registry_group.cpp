#include "utils/registry_group.h"

#include "platform/platform.h"

namespace VkSharemapper {

RegistryGroup::RegistryGroup(bool write)
    : registry_(platform::registry()), began_(registry_.BeginGroup(write)), open_(began_ == platform::err::kSuccess) {}

RegistryGroup::~RegistryGroup() { End(); }

platform::ErrorCode RegistryGroup::End() {
  if (!open_) return platform::err::kSuccess;
  open_ = false;
  return registry_.EndGroup();
}

}  // namespace VkSharemapper
