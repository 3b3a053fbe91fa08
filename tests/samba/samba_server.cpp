#include "samba/samba_server.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace smtest {
namespace {

constexpr int kUnavailableStatus = 77;

// Runs a program (no shell) and returns its exit status, -1 when it could
// not be run; standard output and error go to `output`.
int Run(const std::vector<std::string>& argv, std::string* output) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    const int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    _exit(127);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Stops the shared server when the program ends (a program that crashes
// leaves it to the CTest fixture's cleanup).
void StopSharedAtExit() { SharedSambaServer().Stop(); }

}  // namespace

SambaServer::SambaServer() : SambaServer(SM_SAMBA_STATE_DIR) {}

SambaServer::SambaServer(std::string stateDir) : stateDir_(std::move(stateDir)) {}

SambaServer::~SambaServer() { Stop(); }

int SambaServer::RunScript(const std::string& action, std::string* output) const {
  return Run({"bash", SM_SAMBA_FIXTURE_SCRIPT, action, stateDir_}, output);
}

bool SambaServer::Start() {
  if (running_) return true;
  error_.clear();
  unavailable_ = false;
  const bool alreadyRunning = ::geteuid() == 0 && RunScript("status", nullptr) == 0;
  std::string output;
  const int status = RunScript("start", &output);
  if (status == 0) {
    running_ = true;
    owned_ = !alreadyRunning;
    return true;
  }
  unavailable_ = status == kUnavailableStatus;
  error_ = output.empty() ? "samba_fixture.sh start exited with " + std::to_string(status) : output;
  while (!error_.empty() && error_.back() == '\n') error_.pop_back();
  return false;
}

void SambaServer::Stop() {
  if (running_ && owned_) RunScript("stop", nullptr);
  running_ = false;
  owned_ = false;
}

std::string SambaServer::RemoteName(const std::string& share) const {
  return "\\\\" + Host() + "\\" + share;
}

std::string SambaServer::SharePath(const std::string& share) const {
  return stateDir_ + "/shares/" + share;
}

bool SambaServer::GiveToTestAccount(const std::string& path) const {
  const passwd* account = ::getpwnam(User().c_str());
  if (account == nullptr) return false;
  const uid_t uid = account->pw_uid;
  const gid_t gid = account->pw_gid;
  std::error_code error;
  bool ok = ::lchown(path.c_str(), uid, gid) == 0;
  const std::filesystem::path root(path);
  if (std::filesystem::is_directory(std::filesystem::symlink_status(root, error))) {
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      ok = ::lchown(it->path().c_str(), uid, gid) == 0 && ok;
    }
  }
  return ok && !error;
}

int SambaServer::SmbClient(const std::string& share, const std::string& commands,
                           std::string* output) const {
  return Run({"smbclient", "//" + Host() + "/" + share, "-U", User() + "%" + Password(), "-s",
              stateDir_ + "/client.conf", "-c", commands},
             output);
}

SambaServer& SharedSambaServer() {
  static SambaServer* server = [] {
    auto* created = new SambaServer();
    std::atexit(StopSharedAtExit);
    return created;
  }();
  return *server;
}

}  // namespace smtest
