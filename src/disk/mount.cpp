#include <string>

#include "disk/mapping_record.h"
#include "disk/recycle_bin.h"
#include "disk/samba_disk.h"
#include "log/applog.h"
#include "platform/platform.h"
#include "utils/vkreg.h"

namespace VkSharemapper {
namespace {

constexpr const char* kLocation = "VkSharemapper::SambaDisk::Mount";

// The password never goes to the log; an empty one stays empty so that the
// line still shows which field was missing.
std::string Masked(const std::string& password) { return password.empty() ? std::string() : "***"; }

}  // namespace

bool SambaDisk::Mount(std::string& errorText) {
  if (mounted) return true;

  if (drive.empty() || host.empty() || location.empty() || user.empty() || password.empty() || volume.empty() ||
      userid.empty()) {
    LogHead(AppLog, kLocation, logline::kMountMissingParameter, kLevelErr)
        << "missing Parameter, can't mount samdisk " << drive << host << location << user << Masked(password)
        << volume << userid << std::endl;
    return false;
  }

  const std::string remoteName = "\\\\" + host + "\\" + location;
  const std::string account = domain.empty() ? user : domain + "\\" + user;

  platform::ErrorCode code;
  if (remoteName.size() + 1 > platform::kMaxPath) {
    // Windows takes remote names up to MAX_PATH; a longer one is refused
    // before anything reaches the network.
    code = platform::err::kFilenameExcedRange;
  } else {
    platform::NetResource resource;
    resource.scope = platform::net::kScopeGlobalNet;
    resource.type = platform::net::kTypeDisk;
    resource.displayType = platform::net::kDisplayTypeShare;
    resource.usage = platform::net::kUsageConnectable;
    resource.localName = drive;
    resource.remoteName = remoteName;
    code = platform::network().AddConnection(resource, password, account, platform::net::kConnectTemporary);
  }
  if (code != platform::err::kSuccess) {
    errorText = std::to_string(code);
    LogHead(AppLog, kLocation, logline::kMountFailed, kLevelErr)
        << "mapping net disk failed, errno: " << static_cast<std::uint32_t>(code) << std::endl;
    return false;
  }

  LogHead(AppLog, kLocation, logline::kMountSucceeded, kLevelInfo) << "mapping net disk sucessed" << std::endl;
  mounted = true;

  std::string keyPath = MappingKeyPath(host, location);
  std::string labelName = kValueLabel;
  std::string userIdName = kValueUserId;
  std::string sessionName = kValueDiskSessionId;
  int registryResult = DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, keyPath, labelName, volume);
  if (registryResult != 0) registryResult = DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, keyPath, userIdName, userid);
  if (registryResult != 0) registryResult = DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, keyPath, sessionName, dsid);

  LogHead(AppLog, kLocation, logline::kMountRegistryResult, kLevelInfo)
      << "Samba disk mount: " << static_cast<std::int32_t>(registryResult) << std::endl;

  const std::string recycleBin = drive + "\\$RECYCLE.BIN";
  if (platform::files().Access(recycleBin, 0) == platform::err::kSuccess) {
    LogHead(AppLog, kLocation, logline::kMountRecycleBin, kLevelInfo) << "try delete RECYCLE.BIN" << std::endl;
    deleteDirectoryTree(recycleBin);
  }

  return registryResult != 0;
}

}  // namespace VkSharemapper
