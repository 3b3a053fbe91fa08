// A share mapping with every field filled, as an add hands it to Mount.
#pragma once

#include "disk/samba_disk.h"

inline VkSharemapper::SambaDisk FilledDisk() {
  VkSharemapper::SambaDisk disk;
  disk.drive = "E:";
  disk.host = "10.0.0.5";
  disk.location = "user\\12345";
  disk.domain = "CORP";
  disk.user = "bob";
  disk.password = "s3cret";
  disk.userid = "1001";
  disk.volume = "Docs";
  disk.dsid = "77";
  return disk;
}
