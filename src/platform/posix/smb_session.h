// An SMB session through libsmbclient, one per mapped drive of this process
// (README, "The Linux network and files layer"). It carries several calls
// at once: one over its own connection, the others over worker processes
// with connections of their own (smb_worker.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/posix/net_remote_name.h"
#include "platform/posix/smb_library.h"

namespace platform {
namespace posix {

// Every call takes the folders below the connection's root folder and
// answers 0 or a Windows number. After a timeout (121) or a broken
// connection (64) every later call fails at once with 64. Calls may come
// from several threads at once.
class SmbSession {
 public:
  using Path = std::vector<std::string>;

  // The most calls a session carries at once.
  static constexpr unsigned kMostCalls = 8;

  // Authenticates to `name.host` and opens the share and the folders below
  // it: 0 with `out` set, or 53 (host unknown or port 445 not answering),
  // 1326 (logon refused), 5 (share or folder refused), 67 (no such share or
  // folder), 87 (a credential over 255 bytes), 1222 (no libsmbclient),
  // 8 or 59.
  static ErrorCode Connect(const RemoteName& name, const Account& account, const std::string& password,
                           std::shared_ptr<SmbSession>& out);

  virtual ~SmbSession() = default;
  const RemoteName& name() const { return name_; }

  virtual ErrorCode Exists(const Path& path) = 0;
  // Every entry of the folder, "." and ".." included (none on a failure).
  virtual ErrorCode List(const Path& path, std::vector<FileIdEntry>& out) = 0;
  // Sets the read-only, hidden, system and archive bits to those given.
  virtual ErrorCode SetAttributes(const Path& path, std::uint32_t attributes) = 0;
  virtual ErrorCode MakeDirectory(const Path& path) = 0;
  virtual ErrorCode RemoveFile(const Path& path) = 0;
  virtual ErrorCode RemoveDirectory(const Path& path) = 0;

 protected:
  explicit SmbSession(RemoteName name) : name_(std::move(name)) {}

 private:
  const RemoteName name_;
};

}  // namespace posix
}  // namespace platform
