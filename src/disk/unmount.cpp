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

  // The record to delete is the one the query read: the key named after the
  // remote name as the connection reports it. Rebuilding it from the split
  // host and location would name another key whenever the location was
  // written with forward slashes, doubled or trailing separators or "."
  // components, and could delete another drive's record. Only a drive that
  // no longer reports a connection falls back to host and location.
  std::string remoteName;
  std::string keyPath = DriveRemoteName(drive, remoteName) ? MappingKeyPathFromRemote(remoteName)
                                                           : MappingKeyPathFromQuery(host, location);
  const int registryResult = DAVeruv::deleteRegisterItem(DAVeruv::kCurrentUser, keyPath);
  if (registryResult == 0) {
    LogHead(AppLog, kLocation, logline::kUnmountKeyFailed, kLevelErr) << "delete MountPoints2 key failed" << std::endl;
  }

  const platform::ErrorCode code = platform::network().CancelConnection(drive, 0, true);
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
