#include "support/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

extern char** environ;

namespace testkit {

ScopedEnv::ScopedEnv(const std::string& name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name.c_str())) {
    had_ = true;
    old_ = old;
  }
  if (value != nullptr) {
    ::setenv(name.c_str(), value, 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    ::setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

std::string BinaryName() { return SHAREMAPPER_BINARY; }

bool UnderWine() { return false; }

Run Sandbox::Sharemapper(const std::vector<std::string>& args) const { return Command(SHAREMAPPER_BINARY, args); }

Run Sandbox::SharemapperIn(const std::string& dir, const std::vector<std::string>& args) const {
  return CommandIn(dir, SHAREMAPPER_BINARY, args);
}

Run Sandbox::Command(const std::string& program, const std::vector<std::string>& args) const {
  return CommandIn(cwd, program, args);
}

Run Sandbox::CommandIn(const std::string& dir, const std::string& program, const std::vector<std::string>& args) const {
  Run run;
  int outPipe[2];
  int errPipe[2];
  // Close-on-exec, so that a child started by another thread holds no end.
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return run;

  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    const auto eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& kv : env) merged[kv.first] = kv.second;
  std::vector<std::string> envStore;
  for (const auto& kv : merged) envStore.push_back(kv.first + "=" + kv.second);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(&e[0]);
  envp.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    ::execvpe(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

std::string FindTool(const std::string& name) {
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/", "/usr/local/bin/"}) {
    const std::string path = dir + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return std::string();
}

bool SetImmutable(const std::string& path, bool on) {
  static const std::string chattr = FindTool("chattr");
  if (chattr.empty()) return false;
  return std::system((chattr + (on ? " +i '" : " -i '") + path + "' >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace testkit
