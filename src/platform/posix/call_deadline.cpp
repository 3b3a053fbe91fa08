#include "platform/posix/call_deadline.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>

namespace platform {
namespace posix {

CallDeadline::CallDeadline(std::chrono::milliseconds limit) : limit_(limit) {}

CallDeadline::~CallDeadline() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

void CallDeadline::Watch(std::vector<int> sockets) {
  const std::lock_guard<std::mutex> lock(mutex_);
  sockets_ = std::move(sockets);
}

void CallDeadline::Start() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (sockets_.empty() || passed_) return;
    deadline_ = std::chrono::steady_clock::now() + limit_;
    running_ = true;
    // The thread is started with the first call and kept for the rest.
    if (!watcher_.joinable()) watcher_ = std::thread(&CallDeadline::WatchLoop, this);
  }
  changed_.notify_all();
}

void CallDeadline::Stop() {
  const std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
}

bool CallDeadline::Passed() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return passed_;
}

void CallDeadline::WatchLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ending_) {
    if (!running_) {
      changed_.wait(lock);
      continue;
    }
    const auto deadline = deadline_;
    if (changed_.wait_until(lock, deadline) != std::cv_status::timeout) continue;
    if (!running_ || ending_ || deadline_ != deadline) continue;
    // Reading ends; writing is left alone, so the library gets no SIGPIPE.
    for (const int fd : sockets_) ::shutdown(fd, SHUT_RD);
    passed_ = true;
    running_ = false;
  }
}

std::vector<int> SocketsConnectedTo(const std::string& address, std::uint16_t port) {
  std::vector<int> found;
  in_addr wanted{};
  if (::inet_pton(AF_INET, address.c_str(), &wanted) != 1) return found;
  DIR* fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) return found;
  const int own = ::dirfd(fds);
  while (const dirent* entry = ::readdir(fds)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == own) continue;
    struct stat st {};
    if (::fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.sin_family != AF_INET || peer.sin_port != htons(port) || peer.sin_addr.s_addr != wanted.s_addr) {
      continue;
    }
    found.push_back(static_cast<int>(fd));
  }
  ::closedir(fds);
  return found;
}

}  // namespace posix
}  // namespace platform
