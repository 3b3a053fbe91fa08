// Linux implementation of the network concern: drive letters connected to SMB
// shares. A connection is a row of the user's connection table (letter,
// remote name, account) plus, in the process that made it, the authenticated
// libsmbclient session through which the drive's files are reached.
//
// Like Windows' temporary connections, connections are never remembered for
// a later logon: CONNECT_UPDATE_PROFILE is not honoured and the
// "remembered but not live" state (ERROR_CONNECTION_UNAVAIL, 1201) never
// occurs.
#include <cstring>
#include <string>

#include "platform/network.h"
#include "platform/posix/connection_table.h"
#include "platform/posix/last_error.h"
#include "platform/posix/net_remote_name.h"
#include "platform/posix/smb_session.h"

namespace platform {
namespace {

constexpr std::uint32_t kResourceTypeAny = 0;  // RESOURCETYPE_ANY

// "E:", "E:\" or "E:/" as the root of a drive; 0 otherwise.
char RootLetter(const std::string& root) {
  if (root.size() == 3 && (root[2] == '\\' || root[2] == '/')) {
    return posix::DriveLetterOf(root.substr(0, 2));
  }
  return posix::DriveLetterOf(root);
}

class PosixNetwork : public Network {
 public:
  // The order of the checks: the arguments (1200 for a local name that is
  // not a drive letter, 66 for a resource type other than disk, the remote
  // name's own numbers, 87 for an empty or malformed account), then the
  // table (85 for a letter in use, 1219 for the same server under another
  // account), all before any network traffic; then the SMB session (see
  // SmbSession::Connect); and last the row, written only after the session
  // succeeded and checked again in the same transaction.
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

    posix::ConnectionRow row;
    row.letter = letter;
    row.remoteName = resource.remoteName;
    row.host = name.host;
    row.share = name.share;
    row.account = user;
    code = posix::CheckNewConnection(row);
    if (code != err::kSuccess) return code;

    std::shared_ptr<posix::SmbSession> session;
    code = posix::SmbSession::Connect(name, account, password, session);
    if (code != err::kSuccess) return code;

    code = posix::InsertConnection(row);
    if (code != err::kSuccess) return code;
    posix::AttachSession(letter, std::move(session));
    return err::kSuccess;
  }

  // Only drive letters have connections here, so any other name (a remote
  // name of a deviceless connection, for instance) is not connected. Open
  // listings on the drive do not hold the cancellation up, whatever `force`.
  ErrorCode CancelConnection(const std::string& name, std::uint32_t, bool) override {
    const char letter = posix::DriveLetterOf(name);
    if (letter == 0) return err::kNotConnected;
    const ErrorCode code = posix::DeleteConnection(letter);
    if (code == err::kSuccess || code == err::kNotConnected) posix::DetachSession(letter);
    return code;
  }

  ErrorCode GetConnection(const std::string& localName, char* remoteName,
                          std::uint32_t& length) override {
    const char letter = posix::DriveLetterOf(localName);
    if (letter == 0) return err::kBadDevice;
    posix::ConnectionRow row;
    const ErrorCode code = posix::FindConnection(letter, row);
    if (code != err::kSuccess) return code;
    const std::size_t needed = row.remoteName.size() + 1;
    if (remoteName == nullptr || length < needed) {
      length = static_cast<std::uint32_t>(needed);
      return err::kMoreData;
    }
    std::memcpy(remoteName, row.remoteName.c_str(), needed);
    return err::kSuccess;
  }

  // The volume name of a mapped drive is the name of its share, as Samba
  // servers report it by default.
  bool GetVolumeName(const std::string& root, char* volumeName, std::uint32_t size) override {
    const char letter = RootLetter(root);
    posix::ConnectionRow row;
    const ErrorCode code = letter == 0 ? err::kPathNotFound : posix::FindConnection(letter, row);
    if (code != err::kSuccess) {
      posix::SetLastError(code == err::kNotConnected ? err::kPathNotFound : code);
      return false;
    }
    if (volumeName == nullptr || size < row.share.size() + 1) {
      posix::SetLastError(err::kMoreData);
      return false;
    }
    std::memcpy(volumeName, row.share.c_str(), row.share.size() + 1);
    return true;
  }
};

}  // namespace

Network& RealNetwork() {
  static PosixNetwork instance;
  return instance;
}

}  // namespace platform
