// Linux implementation of the network concern: a drive letter connected to
// an SMB share is a row of the user's connection table plus, in the process
// that made it, the session that reaches its files (see README).
#include <cstring>
#include <string>

#include "platform/network.h"
#include "platform/posix/drives.h"
#include "platform/posix/net_remote_name.h"

namespace platform {
namespace {

constexpr std::uint32_t kResourceTypeAny = 0;  // RESOURCETYPE_ANY

// "E:", "E:\" or "E:/" as the root of a drive; 0 otherwise.
char RootLetter(const std::string& root) {
  return root.size() <= 3 && posix::IsDrivePath(root) ? posix::DriveLetterOf(root.substr(0, 2)) : 0;
}

class PosixNetwork : public Network {
 public:
  explicit PosixNetwork(posix::Drives& drives) : drives_(drives) {}

  // The arguments, then the table, all before any network traffic; then the
  // session; last the row, checked again as it is written.
  ErrorCode AddConnection(const NetResource& resource, const std::string& password,
                          const std::string& user, std::uint32_t) override {
    const char letter = posix::DriveLetterOf(resource.localName);
    if (letter == 0) return err::kBadDevice;
    if (resource.type != net::kTypeDisk && resource.type != kResourceTypeAny) return err::kBadDevType;

    posix::RemoteName name;
    ErrorCode code = posix::ParseRemoteName(resource.remoteName, name);
    if (code != err::kSuccess) return code;
    posix::Account account;
    if (!posix::ParseAccount(user, account)) return err::kInvalidParameter;

    const posix::ConnectionRow row{letter, resource.remoteName, name.host, name.share, user};
    code = drives_.Check(row);
    if (code != err::kSuccess) return code;

    std::shared_ptr<posix::SmbSession> session;
    code = posix::SmbSession::Connect(name, account, password, session);
    if (code != err::kSuccess) return code;

    code = drives_.Insert(row);
    if (code == err::kSuccess) drives_.Attach(letter, std::move(session));
    return code;
  }

  // Only drive letters have connections here, and none is remembered; open
  // listings on the drive do not hold the cancellation up, whatever `force`.
  // The remote name is checked in the statement that deletes the row.
  ErrorCode CancelConnection(const std::string& localName, const std::string& remoteName, std::uint32_t,
                             bool) override {
    const char letter = posix::DriveLetterOf(localName);
    if (letter == 0) return err::kNotConnected;
    const ErrorCode code = drives_.Delete(letter, remoteName);
    if (code == err::kSuccess || code == err::kNotConnected) drives_.Detach(letter);
    return code;
  }

  ErrorCode GetConnection(const std::string& localName, char* remoteName,
                          std::uint32_t& length) override {
    const char letter = posix::DriveLetterOf(localName);
    if (letter == 0) return err::kBadDevice;
    posix::ConnectionRow row;
    const ErrorCode code = drives_.Find(letter, row);
    if (code != err::kSuccess) return code;
    const std::size_t needed = row.remoteName.size() + 1;
    if (remoteName == nullptr || length < needed) {
      length = static_cast<std::uint32_t>(needed);
      return err::kMoreData;
    }
    std::memcpy(remoteName, row.remoteName.c_str(), needed);
    return err::kSuccess;
  }

  // The share's name, as Samba servers report it by default.
  bool GetVolumeName(const std::string& root, char* volumeName, std::uint32_t size) override {
    const char letter = RootLetter(root);
    posix::ConnectionRow row;
    if (letter == 0 || drives_.Find(letter, row) != err::kSuccess) return false;
    if (volumeName == nullptr || size < row.share.size() + 1) return false;
    std::memcpy(volumeName, row.share.c_str(), row.share.size() + 1);
    return true;
  }

 private:
  posix::Drives& drives_;
};

}  // namespace

Network& RealNetwork() {
  static PosixNetwork instance(posix::UserDrives());
  return instance;
}

}  // namespace platform
