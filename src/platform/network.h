// Network drive connections of the user's session and the volume name of a
// drive.
#pragma once

#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace platform {

namespace net {
constexpr std::uint32_t kScopeGlobalNet = 2;       // RESOURCE_GLOBALNET
constexpr std::uint32_t kTypeDisk = 1;             // RESOURCETYPE_DISK
constexpr std::uint32_t kDisplayTypeShare = 3;     // RESOURCEDISPLAYTYPE_SHARE
constexpr std::uint32_t kUsageConnectable = 1;     // RESOURCEUSAGE_CONNECTABLE
constexpr std::uint32_t kConnectTemporary = 4;     // CONNECT_TEMPORARY
constexpr std::uint32_t kUpdateProfile = 1;        // CONNECT_UPDATE_PROFILE
}  // namespace net

// The parts of NETRESOURCEA that a connection is made from; comment and
// provider are always null.
struct NetResource {
  std::uint32_t scope = 0;
  std::uint32_t type = 0;
  std::uint32_t displayType = 0;
  std::uint32_t usage = 0;
  std::string localName;   // "E:"
  std::string remoteName;  // "\\host\share\path"
};

class Network {
 public:
  virtual ~Network() = default;

  // WNetAddConnection2A(&resource, password, user, flags). 0 when the drive
  // letter now refers to the share, else a Windows error number.
  virtual ErrorCode AddConnection(const NetResource& resource, const std::string& password,
                                  const std::string& user, std::uint32_t flags) = 0;

  // WNetCancelConnection2A(name, flags, force).
  virtual ErrorCode CancelConnection(const std::string& name, std::uint32_t flags, bool force) = 0;

  // WNetGetConnectionA(localName, remoteName, &length): 0 or kConnectionUnavail
  // with the zero-terminated remote name in the buffer; kMoreData with length
  // set to the size needed when the buffer is too small; anything else when
  // the letter is not a network drive.
  virtual ErrorCode GetConnection(const std::string& localName, char* remoteName,
                                  std::uint32_t& length) = 0;

  // GetVolumeInformationA(root, volumeName, size, NULL, NULL, NULL, NULL, 0).
  virtual bool GetVolumeName(const std::string& root, char* volumeName, std::uint32_t size) = 0;
};

}  // namespace platform
