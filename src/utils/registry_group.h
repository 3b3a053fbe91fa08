// A group of registry calls for as long as it lives: on Linux the key store
// makes the calls one transaction, on Windows nothing changes (see
// platform::Registry::BeginGroup).
#pragma once

#include "platform/registry.h"

namespace VkSharemapper {

class RegistryGroup {
 public:
  // Begins the group; `write` for one that writes.
  explicit RegistryGroup(bool write);
  // Ends the group unless End did.
  ~RegistryGroup();
  RegistryGroup(const RegistryGroup&) = delete;
  RegistryGroup& operator=(const RegistryGroup&) = delete;

  // What beginning the group answered; when it failed there is no group, and
  // each call goes alone.
  platform::ErrorCode Began() const { return began_; }
  // Ends the group once: EndGroup's answer (a failed commit of the group's
  // writes), 0 when there is no group (any more).
  platform::ErrorCode End();

 private:
  platform::Registry& registry_;  // the one it began with
  platform::ErrorCode began_;
  bool open_;
};

}  // namespace VkSharemapper
