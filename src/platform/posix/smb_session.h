// SMB sessions through libsmbclient (one authenticated context per mapped
// drive of this process) and the user's drives, which hold them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/posix/connection_table.h"
#include "platform/posix/net_remote_name.h"

namespace platform {
namespace posix {

// libsmbclient as its package installs it (the major version is the
// header's ABI), and ERROR_NO_NETWORK for when it cannot be loaded or lacks
// a function.
constexpr const char* kSmbLibrary = "libsmbclient.so.0";
constexpr ErrorCode kNoNetwork = 1222;

// For tests: the next session loads `library` (null: kSmbLibrary) anew.
void ResetSmbApiForTests(const char* library);

class SmbDirectory;

class SmbSession : public std::enable_shared_from_this<SmbSession> {
 public:
  // Authenticates to `name.host` and opens the share and the folders below
  // it: 0 with `out` set, or 53 (host unknown or port 445 not answering),
  // 1326 (logon refused), 5 (share or folder refused), 67 (no such share or
  // folder), 87 (a credential over 255 bytes), 1222 (no libsmbclient),
  // 8 or 59.
  static ErrorCode Connect(const RemoteName& name, const Account& account,
                           const std::string& password, std::shared_ptr<SmbSession>& out);

  ~SmbSession();
  SmbSession(const SmbSession&) = delete;
  SmbSession& operator=(const SmbSession&) = delete;

  // The URL of a path below the connection's root folder.
  std::string UrlFor(const std::vector<std::string>& components) const;

  // 0 or a Windows number. After a timeout (121) or a broken connection (64)
  // every later call fails at once with 64.
  ErrorCode Exists(const std::string& url);
  ErrorCode OpenDirectory(const std::string& url, std::unique_ptr<SmbDirectory>& out);
  // Sets the read-only, hidden, system and archive bits to those given.
  ErrorCode SetAttributes(const std::string& url, std::uint32_t attributes);
  ErrorCode MakeDirectory(const std::string& url);
  ErrorCode RemoveFile(const std::string& url);
  ErrorCode RemoveDirectory(const std::string& url);
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

// The user's drives: the connection table, shared by the user's processes,
// and the sessions of this process by drive letter ('A'..'Z').
class Drives {
 public:
  std::uint32_t LetterMask() { return ConnectedLetterMask(); }
  ErrorCode Find(char letter, ConnectionRow& row) { return FindConnection(letter, row); }
  ErrorCode Check(const ConnectionRow& row) { return CheckNewConnection(row); }
  ErrorCode Insert(const ConnectionRow& row) { return InsertConnection(row); }
  ErrorCode Delete(char letter) { return DeleteConnection(letter); }

  // The session of a drive this process connected, if it is still the
  // drive's connection (one cancelled or replaced elsewhere ends here).
  std::shared_ptr<SmbSession> Session(char letter);
  void Attach(char letter, std::shared_ptr<SmbSession> session) { sessions_[letter] = std::move(session); }
  void Detach(char letter) { sessions_.erase(letter); }
  void DetachAll() { sessions_.clear(); }

 private:
  std::map<char, std::shared_ptr<SmbSession>> sessions_;
};

// The one Drives of the process, made on first use.
Drives& UserDrives();

}  // namespace posix
}  // namespace platform
