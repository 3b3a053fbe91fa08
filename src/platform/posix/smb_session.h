// SMB sessions through libsmbclient: one authenticated context per mapped
// drive of this process. The account and password live only in the session
// object (and libsmbclient's memory) for as long as the drive is mapped;
// nothing about them is written anywhere.
//
// libsmbclient is only loaded when a connection is made (see smb_api.h): a
// process that only lists or removes drives neither loads it nor sets up any
// SMB state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/posix/net_remote_name.h"

namespace platform {
namespace posix {

class SmbDirectory;

class SmbSession : public std::enable_shared_from_this<SmbSession> {
 public:
  // Authenticates to `name.host` with the account and password and opens
  // the share and the folders below it. Returns 0 with `out` set, or:
  //   kBadNetPath (53)      the host name does not resolve to an IPv4
  //                         address, or nothing answers on port 445 there
  //                         (refused, unreachable, or no answer within the
  //                         connect timeout)
  //   kLogonFailure (1326)  the server refused the account or password
  //   kAccessDenied (5)     the account logged on but may not use the share
  //                         or the folder
  //   kBadNetName (67)      no such share, or no such folder below it (or a
  //                         file where a folder should be)
  //   kInvalidParameter (87) an account, domain or password longer than
  //                         libsmbclient can pass on (255 bytes)
  //   kNoNetwork (1222)     libsmbclient cannot be loaded (nothing was sent)
  //   kNotEnoughMemory (8), kUnexpectedNetworkError (59)  anything else
  static ErrorCode Connect(const RemoteName& name, const Account& account,
                           const std::string& password, std::shared_ptr<SmbSession>& out);

  ~SmbSession();
  SmbSession(const SmbSession&) = delete;
  SmbSession& operator=(const SmbSession&) = delete;

  // The URL of a path below the connection's root folder.
  std::string UrlFor(const std::vector<std::string>& components) const;

  // The operations below return 0 or a Windows number. Once the server has
  // not answered one of them in time (ERROR_SEM_TIMEOUT, 121) or the
  // connection broke (ERROR_NETNAME_DELETED, 64), the session is over: every
  // later one fails at once with ERROR_NETNAME_DELETED.
  ErrorCode Exists(const std::string& url);
  ErrorCode OpenDirectory(const std::string& url, std::unique_ptr<SmbDirectory>& out);
  // Sets the DOS attributes (read-only, hidden, system, archive) of an entry
  // to exactly those of `attributes`; other bits are ignored.
  ErrorCode SetAttributes(const std::string& url, std::uint32_t attributes);
  ErrorCode MakeDirectory(const std::string& url);
  ErrorCode RemoveFile(const std::string& url);
  ErrorCode RemoveDirectory(const std::string& url);
  // The entries of a folder with the server's file ids.
  ErrorCode ListFileIds(const std::string& url, std::vector<FileIdEntry>& entries);

  const RemoteName& name() const { return name_; }

 private:
  friend class SmbDirectory;
  struct Impl;
  explicit SmbSession(std::unique_ptr<Impl> impl, RemoteName name);

  std::unique_ptr<Impl> impl_;
  RemoteName name_;
};

// An open directory listing on a session; keeps the session alive.
class SmbDirectory {
 public:
  ~SmbDirectory();
  SmbDirectory(const SmbDirectory&) = delete;
  SmbDirectory& operator=(const SmbDirectory&) = delete;

  // The next entry: true with `entry` filled; false at the end (`error` 0)
  // or on a failure (`error` set).
  bool Next(FindData& entry, ErrorCode& error);

 private:
  friend class SmbSession;
  SmbDirectory(std::shared_ptr<SmbSession> session, void* handle);
  std::shared_ptr<SmbSession> session_;
  void* handle_;
};

// The sessions of this process, by drive letter ('A'..'Z').
std::shared_ptr<SmbSession> SessionForDrive(char letter);
void AttachSession(char letter, std::shared_ptr<SmbSession> session);
void DetachSession(char letter);
void DetachAllSessions();

// Maps an errno that libsmbclient set for a file operation on an open session
// to a Windows number.
ErrorCode SmbFileErrorToWindows(int error);

}  // namespace posix
}  // namespace platform
