#include "disk/query.h"

#include <Poco/Exception.h>
#include <Poco/Path.h>

#include <vector>

#include "disk/mapping_record.h"
#include "platform/platform.h"
#include "utils/registry_group.h"
#include "utils/vkreg.h"

namespace VkSharemapper {
namespace {

constexpr std::uint32_t kRemoteNameSize = 80;
constexpr std::uint32_t kVolumeNameSize = 260;
constexpr const char* kDummy = "dummy";

// Fallback for names the path class will not parse: the first component is
// the host, the rest is the location.
void SplitByHand(const std::string& remoteName, std::string& host, std::string& location) {
  std::size_t start = remoteName.find_first_not_of("\\/");
  if (start == std::string::npos) start = remoteName.size();
  std::size_t end = remoteName.find_first_of("\\/", start);
  if (end == std::string::npos) end = remoteName.size();
  host = remoteName.substr(start, end - start);
  location = "\\";
  for (std::size_t at = end; at < remoteName.size();) {
    std::size_t from = remoteName.find_first_not_of("\\/", at);
    if (from == std::string::npos) break;
    std::size_t to = remoteName.find_first_of("\\/", from);
    if (to == std::string::npos) to = remoteName.size();
    if (location.size() > 1) location += "\\";
    location += remoteName.substr(from, to - from);
    at = to;
  }
}

// Asks the network layer for a letter's remote name. A name longer than the
// usual buffer is asked for again with the size the layer reports, so that
// every mapped drive is listed (and can be deleted).
platform::ErrorCode RemoteNameOf(const std::string& localName, std::string& remoteName) {
  platform::Network& network = platform::network();
  std::vector<char> buffer(kRemoteNameSize, '\0');
  std::uint32_t length = kRemoteNameSize;
  platform::ErrorCode code = network.GetConnection(localName, buffer.data(), length);
  if (code == platform::err::kMoreData && length > kRemoteNameSize && length < (1u << 16)) {
    buffer.assign(length + 1, '\0');
    std::uint32_t larger = length + 1;
    code = network.GetConnection(localName, buffer.data(), larger);
  }
  if (code == platform::err::kSuccess || code == platform::err::kConnectionUnavail) {
    buffer.back() = '\0';
    remoteName = buffer.data();
  }
  return code;
}

}  // namespace

bool DriveRemoteName(const std::string& drive, std::string& remoteName) {
  const platform::ErrorCode code = RemoteNameOf(drive, remoteName);
  return code == platform::err::kSuccess || code == platform::err::kConnectionUnavail;
}

void SplitRemoteName(const std::string& remoteName, std::string& host, std::string& location) {
  try {
    Poco::Path hostPath;
    hostPath.parseDirectory(remoteName, Poco::Path::PATH_WINDOWS);
    host = hostPath.getNode();

    Poco::Path locationPath;
    locationPath.parseDirectory(remoteName, Poco::Path::PATH_WINDOWS);
    locationPath.setNode("");
    locationPath.makeFile();
    location = locationPath.toString(Poco::Path::PATH_WINDOWS);
  } catch (const Poco::Exception&) {
    SplitByHand(remoteName, host, location);
  }
}

bool QueryNetDisks(DriveList& list) {
  platform::Network& network = platform::network();
  char localName[3] = {'A', ':', '\0'};
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    localName[0] = letter;
    std::string remoteName;
    if (!DriveRemoteName(localName, remoteName)) continue;

    auto disk = std::make_unique<SambaDisk>();
    std::string host;
    std::string location;
    SplitRemoteName(remoteName, host, location);

    // A name that is no share's has no record: its entry keeps the defaults.
    const std::string keyPath = MappingKeyPathFromRemote(remoteName);
    std::string label;
    std::string userId = kDummy;
    std::string sessionId = kDummy;
    RegistryGroup group(false);  // the three values as one add left them
    if (keyPath.empty() || DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, keyPath, kValueLabel, label) == 0) {
      char volumeName[kVolumeNameSize] = {};
      if (network.GetVolumeName(localName, volumeName, kVolumeNameSize)) {
        volumeName[kVolumeNameSize - 1] = '\0';
        label = volumeName;
      } else {
        label.clear();
      }
    }
    if (!keyPath.empty()) {
      DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, keyPath, kValueUserId, userId);
      DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, keyPath, kValueDiskSessionId, sessionId);
    }
    group.End();

    disk->drive = localName;
    disk->host = host;
    disk->location = location;
    disk->userid = userId;
    disk->volume = label;
    disk->dsid = sessionId;
    disk->mounted = true;
    disk->remoteName = remoteName;
    list.push_back(std::move(disk));
  }
  return true;
}

}  // namespace VkSharemapper
