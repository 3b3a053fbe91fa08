// A lane of an SMB session in a process of its own. libsmbclient carries
// one call at a time in a process, so the calls a session carries at once
// beyond its own go to worker processes: each forked from the program,
// with a connection of its own to the same share as the same account,
// and a socket pair to take calls and give their results.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/posix/smb_lane.h"

namespace platform {
namespace posix {

class SmbWorker {
 public:
  enum class Outcome { kAnswered, kTimedOut, kGone };

  // Forks a worker that makes its lane with `make` (a quiet one, created
  // but not yet connected) and serves calls until its socket closes. The
  // caller holds LibraryCallLock(), so that no call is under way in the
  // library as it forks. The worker closes `inherited` (descriptors of the
  // program it must not hold). Null when no process can be made.
  static std::unique_ptr<SmbWorker> Start(const std::function<std::unique_ptr<SmbLane>()>& make,
                                          const std::vector<int>& inherited);
  // Closes the socket and waits for the worker a moment; one that lingers
  // is killed.
  ~SmbWorker();
  SmbWorker(const SmbWorker&) = delete;
  SmbWorker& operator=(const SmbWorker&) = delete;

  // The call, answered by `deadline`: kTimedOut when it was not (the
  // worker is then killed), kGone when the worker is no more.
  Outcome Run(const SmbRequest& request, SmbReply& reply, std::chrono::steady_clock::time_point deadline);
  // Ends the worker and whatever call it has under way.
  void Kill();
  // Whether it has answered a call: its first call also makes its
  // connection (a dozen round trips before the call's own).
  bool answered() const { return answered_; }
  int socket() const { return socket_; }

 private:
  SmbWorker(pid_t pid, int socket) : pid_(pid), socket_(socket) {}

  pid_t pid_;
  int socket_;
  bool answered_ = false;
};

}  // namespace posix
}  // namespace platform
