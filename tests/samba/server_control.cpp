#include "samba/server_control.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "support/runner.h"

namespace smtest {

pid_t ServerPid(const SambaServer& server) {
  const std::string text = testkit::ReadFile(server.StateDir() + "/pid/smbd.pid");
  const pid_t pid = static_cast<pid_t>(std::atol(text.c_str()));
  if (pid <= 1) return 0;
  const std::string cmdline = testkit::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
  if (cmdline.find(server.StateDir() + "/smb.conf") == std::string::npos) return 0;
  if (::getpgid(pid) != pid || pid == ::getpgrp()) return 0;
  return pid;
}

namespace {

// The live processes (zombies aside) whose parent and process group pass `keep`.
template <typename Keep>
std::set<pid_t> LiveProcesses(Keep keep) {
  std::set<pid_t> members;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return members;
  while (dirent* entry = ::readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
    if (pid <= 0) continue;
    const std::string stat = testkit::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    int pgrp = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &parent, &pgrp) == 3 && state != 'Z' &&
        keep(static_cast<pid_t>(parent), static_cast<pid_t>(pgrp))) {
      members.insert(pid);
    }
  }
  ::closedir(proc);
  return members;
}

}  // namespace

std::set<pid_t> ProcessGroup(pid_t group) {
  return LiveProcesses([group](pid_t, pid_t pgrp) { return pgrp == group; });
}

std::set<pid_t> ChildProcesses() {
  const pid_t me = ::getpid();
  return LiveProcesses([me](pid_t parent, pid_t) { return parent == me; });
}

unsigned long long StartTime(pid_t pid) {
  const std::string stat = testkit::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  }
  return 0;
}

::testing::AssertionResult Restart(SambaServer& server, bool startedByThisProgram) {
  server.Stop();
  if (!startedByThisProgram) {
    const std::string start = std::string("bash '") + SM_SAMBA_FIXTURE_SCRIPT + "' start '" + server.StateDir() +
                              "' >/dev/null 2>&1";
    if (std::system(start.c_str()) != 0) return ::testing::AssertionFailure() << "the fixture script did not start it";
  }
  if (server.Start()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << server.Error();
}

FrozenServer::FrozenServer(const SambaServer& server) : group_(ServerPid(server)) {
  if (group_ != 0 && ::kill(-group_, SIGSTOP) != 0) group_ = 0;
}

void FrozenServer::Thaw() {
  if (group_ != 0) ::kill(-group_, SIGCONT);
  group_ = 0;
}

}  // namespace smtest
