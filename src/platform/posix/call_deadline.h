// A time limit for one libsmbclient call, whatever the call does inside.
//
// libsmbclient's timeout holds for each request it sends, and one call may
// send several: a listing that gets no answer is followed by a close of
// the folder's handle, which waits just as long. While a call runs, a
// watcher thread keeps its deadline; when it passes, the connection's
// sockets are shut for reading, so whatever the library waits for ends at
// once and every later request fails straight away.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace posix {

class CallDeadline {
 public:
  explicit CallDeadline(std::chrono::milliseconds limit);
  ~CallDeadline();
  CallDeadline(const CallDeadline&) = delete;
  CallDeadline& operator=(const CallDeadline&) = delete;

  // The sockets to shut when a deadline passes.
  void Watch(std::vector<int> sockets);
  // A call begins: its deadline is the limit from now.
  void Start();
  // The call ended.
  void Stop();
  // Whether a deadline has passed; the connection is then closed for good.
  bool Passed();

 private:
  void WatchLoop();

  const std::chrono::milliseconds limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread watcher_;
  std::vector<int> sockets_;
  bool running_ = false;  // a call is under way
  bool passed_ = false;
  bool ending_ = false;
  std::chrono::steady_clock::time_point deadline_;
};

// The descriptors of this process's TCP sockets connected to
// `address`:`port` (a numeric IPv4 address).
std::vector<int> SocketsConnectedTo(const std::string& address, std::uint16_t port);

}  // namespace posix
}  // namespace platform
