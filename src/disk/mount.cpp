#include <string>

#include "disk/drive_letters.h"
#include "disk/mapping_record.h"
#include "disk/recycle_bin.h"
#include "disk/samba_disk.h"
#include "log/applog.h"
#include "platform/platform.h"
#include "utils/registry_group.h"
#include "utils/vkreg.h"

namespace VkSharemapper {
namespace {

constexpr const char* kLocation = "VkSharemapper::SambaDisk::Mount";

// The password never goes to the log; an empty one stays empty so that the
// line still shows which field was missing.
std::string Masked(const std::string& password) { return password.empty() ? std::string() : "***"; }

}  // namespace

bool SambaDisk::Mount(platform::ErrorCode& error) {
  error = platform::err::kSuccess;
  if (mounted) return true;

  if (drive.empty() || host.empty() || location.empty() || user.empty() || password.empty() || volume.empty() ||
      userid.empty()) {
    LogHead(AppLog, kLocation, logline::kMountMissingParameter, kLevelErr)
        << "missing Parameter, can't mount samdisk " << drive << host << location << user << Masked(password)
        << volume << userid << std::endl;
    return false;
  }

  const std::string remote = "\\\\" + host + "\\" + location;
  const std::string account = domain.empty() ? user : domain + "\\" + user;

  // A letter picked by "*" can be taken by another process before the
  // connection is made; the next free letter is tried then, each letter at
  // most once. Only the last refusal reaches the log.
  std::uint32_t tried = 0;
  platform::ErrorCode code = Connect(remote, account);
  while (anyLetter && (code == platform::err::kAlreadyAssigned || code == platform::err::kDeviceAlreadyRemembered)) {
    tried |= LetterBit(drive);
    std::string next;
    if (!HighestFreeLetter(tried, next)) break;
    drive = next;
    code = Connect(remote, account);
  }
  if (code != platform::err::kSuccess) {
    error = code;
    LogHead(AppLog, kLocation, logline::kMountFailed, kLevelErr)
        << "mapping net disk failed, errno: " << static_cast<std::uint32_t>(code) << std::endl;
    return false;
  }

  LogHead(AppLog, kLocation, logline::kMountSucceeded, kLevelInfo) << "mapping net disk sucessed" << std::endl;
  mounted = true;

  // The three values are written as one group: where the store has
  // transactions (Linux), another run's query sees all of them or none.
  const std::string keyPath = MappingKeyPath(host, location);
  int registryResult = 0;
  if (!keyPath.empty()) {
    RegistryGroup group(true);
    registryResult = DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, keyPath, kValueLabel, volume);
    if (registryResult != 0) registryResult = DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, keyPath, kValueUserId, userid);
    if (registryResult != 0) registryResult = DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, keyPath, kValueDiskSessionId, dsid);
    if (group.End() != platform::err::kSuccess) registryResult = 0;
  }

  LogHead(AppLog, kLocation, logline::kMountRegistryResult, kLevelInfo)
      << "Samba disk mount: " << static_cast<std::int32_t>(registryResult) << std::endl;

  const std::string recycleBin = drive + "\\$RECYCLE.BIN";
  if (platform::files().Access(recycleBin, 0) == platform::err::kSuccess) {
    LogHead(AppLog, kLocation, logline::kMountRecycleBin, kLevelInfo) << "try delete RECYCLE.BIN" << std::endl;
    deleteDirectoryTree(recycleBin);
  }

  return registryResult != 0;
}

platform::ErrorCode SambaDisk::Connect(const std::string& remote, const std::string& account) {
  // Windows takes remote names up to MAX_PATH; a longer one is refused
  // before anything reaches the network.
  if (remote.size() + 1 > platform::kMaxPath) return platform::err::kFilenameExcedRange;
  platform::NetResource resource;
  resource.scope = platform::net::kScopeGlobalNet;
  resource.type = platform::net::kTypeDisk;
  resource.displayType = platform::net::kDisplayTypeShare;
  resource.usage = platform::net::kUsageConnectable;
  resource.localName = drive;
  resource.remoteName = remote;
  return platform::network().AddConnection(resource, password, account, platform::net::kConnectTemporary);
}

}  // namespace VkSharemapper
