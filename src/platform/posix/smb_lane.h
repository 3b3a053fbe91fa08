// One libsmbclient context and the connection it makes: the calls of an SMB
// session go over one or more of these lanes (README, "The Linux network
// and files layer").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/posix/net_remote_name.h"
#include "platform/posix/smb_library.h"

namespace platform {
namespace posix {

constexpr std::uint16_t kSmbPort = 445;   // never NetBIOS's 139
constexpr int kRequestTimeoutMs = 5000;  // one call of an established session

// One call of a session: what to do, to the folders below the connection's
// root folder.
enum class SmbOp : std::uint8_t { kExists, kList, kSetAttributes, kMakeDirectory, kRemoveFile, kRemoveDirectory };

struct SmbRequest {
  SmbOp op = SmbOp::kExists;
  std::vector<std::string> path;
  std::uint32_t attributes = 0;  // kSetAttributes: the bits to set
  bool listedFile = false;       // a listing of its folder showed a file by that name
};

struct SmbReply {
  ErrorCode code = err::kSuccess;
  std::vector<FileIdEntry> entries;  // kList: every entry, "." and ".." included
};

class SmbLane {
 public:
  // `server` is the numeric address given to libsmbclient. A quiet lane
  // (one in a worker process) logs nothing and leaves the descriptors of
  // the process as they are.
  SmbLane(const SmbApi& api, const RemoteName& name, std::string server, const Account& account,
          const std::string& password, bool quiet);
  ~SmbLane();
  SmbLane(const SmbLane&) = delete;
  SmbLane& operator=(const SmbLane&) = delete;

  // Makes the context and opens the share and its folders: 0, or 5, 67,
  // 1326, 53 and the like. Every later call is then bounded by the request
  // timeout: a watcher shuts the connection when one takes longer.
  ErrorCode Open();
  // Makes the context only; the first call connects. False without memory.
  bool Create();

  // One call: 0 or a Windows number. After a timeout (121) or a broken
  // connection (64), every later call fails at once with 64.
  void Run(const SmbRequest& request, SmbReply& reply);

  // The connection is over, whatever call is under way: that call ends at
  // once, with 121, and every later one with 64.
  void Abort();

  // The sockets of this lane's connection, once opened.
  const std::vector<int>& sockets() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace posix
}  // namespace platform
