#include <string>

#include "disk/mapping_record.h"
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

  // The query fills location with a leading backslash, which becomes the "#"
  // between host and share.
  std::string keyPath = MappingKeyPathFromQuery(host, location);
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
