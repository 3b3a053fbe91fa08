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
  // letter now refers to the share, else a Windows error number: among them
  // 85 when the letter has a connection, 1202 when it has a remembered
  // connection to another share, 1219 when the session reaches the server
  // already under another account, 1326 for a refused account.
  virtual ErrorCode AddConnection(const NetResource& resource, const std::string& password,
                                  const std::string& user, std::uint32_t flags) = 0;

  // WNetCancelConnection2A(localName, flags, force), made only while the
  // letter still reports `remoteName` (any name when it is empty), so that a
  // connection another process put there meanwhile is left alone: 0, or 2250
  // when the letter has no connection or one to another remote name, or a
  // Windows error number. With net::kUpdateProfile a remembered connection is
  // forgotten too; without it, it comes back at the next logon.
  virtual ErrorCode CancelConnection(const std::string& localName, const std::string& remoteName,
                                     std::uint32_t flags, bool force) = 0;

  // WNetGetConnectionA(localName, remoteName, &length): 0 for a connected
  // drive, or 1201 (kConnectionUnavail) for a remembered connection that is
  // not connected now, with the zero-terminated remote name in the buffer
  // (which a third-party provider may leave empty); 234 (kMoreData) with
  // length set to the size needed when the buffer is too small; 2250 for a
  // letter without a connection, 1200 for a name that is no device; the
  // answer is that of the caller's logon session.
  virtual ErrorCode GetConnection(const std::string& localName, char* remoteName,
                                  std::uint32_t& length) = 0;

  // GetVolumeInformationA(root, volumeName, size, NULL, NULL, NULL, NULL, 0).
  virtual bool GetVolumeName(const std::string& root, char* volumeName, std::uint32_t size) = 0;
};

}  // namespace platform
