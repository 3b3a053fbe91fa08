// The test server's processes, for the tests of a server that freezes or
// goes away in the middle of a run.
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <set>

#include "samba/samba_server.h"

namespace smtest {

// The server's smbd: the pid in its pid file, when that process runs with
// this server's configuration (0 otherwise). smbd leads its own process
// group, in which its session children run.
pid_t ServerPid(const SambaServer& server);

// The live processes of a process group.
std::set<pid_t> ProcessGroup(pid_t group);

// The live processes whose parent is this one (the workers of a session).
std::set<pid_t> ChildProcesses();

// When a process started, in clock ticks since boot (0 when unknown).
unsigned long long StartTime(pid_t pid);

// Starts the server again after it was killed, as it was before: a server
// this program had started is this program's again (and stopped when it
// ends); one that was there before (the CTest fixture's) is started to stay
// for the tests after this program, and only adopted.
::testing::AssertionResult Restart(SambaServer& server, bool startedByThisProgram);

// Stops every process of the server (SIGSTOP) for as long as it lives: the
// kernel still accepts connections on the port, nothing answers them.
class FrozenServer {
 public:
  explicit FrozenServer(const SambaServer& server);
  ~FrozenServer() { Thaw(); }
  FrozenServer(const FrozenServer&) = delete;
  FrozenServer& operator=(const FrozenServer&) = delete;
  bool ok() const { return group_ != 0; }
  void Thaw();

 private:
  pid_t group_;
};

}  // namespace smtest
