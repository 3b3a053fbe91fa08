#include <string>

#include "disk/mapping_record.h"
#include "disk/query.h"
#include "disk/samba_disk.h"
#include "log/applog.h"
#include "platform/platform.h"
#include "utils/vkreg.h"

namespace VkSharemapper {
namespace {
constexpr const char* kLocation = "VkSharemapper::SambaDisk::Unmount";
}

bool SambaDisk::Unmount() {
  if (!mounted) return true;

  // The connection to take is the one the query looked at. Its record is the
  // key named after that remote name as the connection reported it:
  // rebuilding it from the split host and location would name another key
  // whenever the location was written with forward slashes, doubled or
  // trailing separators or "." components. An entry made by hand names its
  // share by host and location.
  const std::string looked = !remoteName.empty() || host.empty() ? remoteName : "\\\\" + host + location;

  // When another run has meanwhile put another share on the letter, its
  // record is not this drive's to delete; the cancellation below then finds
  // the other connection and leaves it alone too.
  std::string current;
  const bool replaced = DriveRemoteName(drive, current) && !looked.empty() && current != looked;

  int registryResult = 1;
  const std::string keyPath = MappingKeyPathFromRemote(looked);
  if (!replaced && !keyPath.empty()) {
    registryResult = DAVeruv::deleteRegisterItem(DAVeruv::kCurrentUser, keyPath);
    if (registryResult == 0) {
      LogHead(AppLog, kLocation, logline::kUnmountKeyFailed, kLevelErr) << "delete MountPoints2 key failed" << std::endl;
    }
  }

  // Updating the profile forgets a remembered connection, as "net use /delete"
  // does; without it the drive would come back at the next logon. The tool's
  // own connections are temporary, and for those nothing changes.
  const platform::ErrorCode code =
      platform::network().CancelConnection(drive, looked, platform::net::kUpdateProfile, true);
  if (code != platform::err::kSuccess) {
    LogHead(AppLog, kLocation, logline::kUnmountFailed, kLevelErr)
        << "delete net disk failed, errno: " << static_cast<std::uint32_t>(code) << std::endl;
    return false;
  }

  LogHead(AppLog, kLocation, logline::kUnmountSucceeded, kLevelInfo) << "delete net disk sucessed" << std::endl;
  mounted = false;
  return registryResult != 0;
}

}  // namespace VkSharemapper
