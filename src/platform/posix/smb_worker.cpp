#include "platform/posix/smb_worker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

namespace platform {
namespace posix {
namespace {

using Clock = std::chrono::steady_clock;

// How long a closed worker may take to end before it is killed.
constexpr auto kEndGrace = std::chrono::milliseconds(500);

// The wire: little-endian numbers as the machine has them (both ends are
// one program), strings as a 32-bit length and the bytes.
class Writer {
 public:
  void Number(std::uint64_t value, std::size_t size) { bytes_.append(reinterpret_cast<const char*>(&value), size); }
  void Text(const std::string& text) {
    Number(text.size(), 4);
    bytes_ += text;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool Number(std::uint64_t& value, std::size_t size) {
    if (bytes_.size() - at_ < size) return false;
    value = 0;
    std::memcpy(&value, bytes_.data() + at_, size);
    at_ += size;
    return true;
  }
  bool Text(std::string& text) {
    std::uint64_t size = 0;
    if (!Number(size, 4) || bytes_.size() - at_ < size) return false;
    text.assign(bytes_, at_, size);
    at_ += size;
    return true;
  }

 private:
  const std::string& bytes_;
  std::size_t at_ = 0;
};

std::string EncodeRequest(const SmbRequest& request) {
  Writer out;
  out.Number(static_cast<std::uint8_t>(request.op), 1);
  out.Number(request.attributes, 4);
  out.Number(request.listedFile ? 1 : 0, 1);
  out.Number(request.path.size(), 4);
  for (const std::string& part : request.path) out.Text(part);
  return out.bytes();
}

bool DecodeRequest(const std::string& bytes, SmbRequest& request) {
  Reader in(bytes);
  std::uint64_t op = 0, attributes = 0, listed = 0, parts = 0;
  if (!in.Number(op, 1) || op > static_cast<std::uint8_t>(SmbOp::kRemoveDirectory) || !in.Number(attributes, 4) ||
      !in.Number(listed, 1) || !in.Number(parts, 4)) {
    return false;
  }
  request.op = static_cast<SmbOp>(op);
  request.attributes = static_cast<std::uint32_t>(attributes);
  request.listedFile = listed != 0;
  request.path.assign(static_cast<std::size_t>(std::min<std::uint64_t>(parts, 1024)), std::string());
  for (std::string& part : request.path) {
    if (!in.Text(part)) return false;
  }
  return parts <= 1024;
}

std::string EncodeReply(const SmbReply& reply) {
  Writer out;
  out.Number(reply.code, 4);
  out.Number(reply.entries.size(), 4);
  for (const FileIdEntry& entry : reply.entries) {
    out.Number(entry.attributes, 4);
    out.Number(entry.reparseTag, 4);
    out.Number(entry.fileId, 8);
    out.Text(entry.name);
  }
  return out.bytes();
}

bool DecodeReply(const std::string& bytes, SmbReply& reply) {
  Reader in(bytes);
  std::uint64_t code = 0, count = 0;
  if (!in.Number(code, 4) || !in.Number(count, 4)) return false;
  reply.code = static_cast<ErrorCode>(code);
  reply.entries.clear();
  for (std::uint64_t i = 0; i < count; ++i) {
    FileIdEntry entry;
    std::uint64_t attributes = 0, tag = 0;
    if (!in.Number(attributes, 4) || !in.Number(tag, 4) || !in.Number(entry.fileId, 8) || !in.Text(entry.name)) {
      return false;
    }
    entry.attributes = static_cast<std::uint32_t>(attributes);
    entry.reparseTag = static_cast<std::uint32_t>(tag);
    reply.entries.push_back(std::move(entry));
  }
  return true;
}

// Waits until `fd` can be read or written (`events`), at most until
// `deadline` (none: the default time point): false when it passed.
bool Ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    int wait = -1;
    if (deadline != Clock::time_point()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      wait = static_cast<int>(left) + 1;
    }
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, wait);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // the read or write tells what is wrong
  }
}

// A message: its 32-bit length, then its bytes.
enum class Transfer { kDone, kTimedOut, kClosed };

Transfer Send(int fd, const std::string& body, Clock::time_point deadline = {}) {
  Writer framed;
  framed.Number(body.size(), 4);
  const std::string bytes = framed.bytes() + body;
  for (std::size_t sent = 0; sent < bytes.size();) {
    if (!Ready(fd, POLLOUT, deadline)) return Transfer::kTimedOut;
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return Transfer::kClosed;
    sent += static_cast<std::size_t>(n);
  }
  return Transfer::kDone;
}

Transfer ReadExactly(int fd, std::string& out, std::size_t size, Clock::time_point deadline) {
  out.assign(size, '\0');
  for (std::size_t got = 0; got < size;) {
    if (!Ready(fd, POLLIN, deadline)) return Transfer::kTimedOut;
    const ssize_t n = ::recv(fd, &out[got], size - got, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return Transfer::kClosed;
    got += static_cast<std::size_t>(n);
  }
  return Transfer::kDone;
}

Transfer Receive(int fd, std::string& body, Clock::time_point deadline = {}) {
  std::string head;
  Transfer result = ReadExactly(fd, head, 4, deadline);
  if (result != Transfer::kDone) return result;
  std::uint64_t size = 0;
  Reader(head).Number(size, 4);
  return ReadExactly(fd, body, static_cast<std::size_t>(size), deadline);
}

// The worker's life: calls until the program closes its end (or ends).
[[noreturn]] void Serve(int fd, const std::function<std::unique_ptr<SmbLane>()>& make) {
  std::unique_ptr<SmbLane> lane = make();
  std::string body;
  SmbRequest request;
  SmbReply reply;
  while (lane && Receive(fd, body) == Transfer::kDone && DecodeRequest(body, request)) {
    lane->Run(request, reply);
    if (Send(fd, EncodeReply(reply)) != Transfer::kDone) break;
  }
  // No log-off: the program may be waiting for this process to end, and
  // the server ends the session with the connection.
  ::_exit(0);
}

}  // namespace

std::unique_ptr<SmbWorker> SmbWorker::Start(const std::function<std::unique_ptr<SmbLane>()>& make,
                                            const std::vector<int>& inherited) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return nullptr;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pair[0]);
    ::close(pair[1]);
    return nullptr;
  }
  if (pid == 0) {
    // The worker prints nowhere. It ends when the program closes its end
    // of the socket pair, or ends itself (not on the end of the thread
    // that forked it, as a parent-death signal would).
    ::close(pair[0]);
    for (const int fd : inherited) ::close(fd);
    const int nowhere = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nowhere >= 0) {
      ::dup2(nowhere, 1);
      ::dup2(nowhere, 2);
      if (nowhere > 2) ::close(nowhere);
    }
    LibraryCallLock().unlock();  // the program's thread that forked held it
    Serve(pair[1], make);
  }
  ::close(pair[1]);
  return std::unique_ptr<SmbWorker>(new SmbWorker(pid, pair[0]));
}

SmbWorker::~SmbWorker() {
  ::close(socket_);
  const auto until = Clock::now() + kEndGrace;
  while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (Clock::now() >= until) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

SmbWorker::Outcome SmbWorker::Run(const SmbRequest& request, SmbReply& reply, Clock::time_point deadline) {
  Transfer result = Send(socket_, EncodeRequest(request), deadline);
  std::string body;
  if (result == Transfer::kDone) result = Receive(socket_, body, deadline);
  if (result == Transfer::kDone && DecodeReply(body, reply)) {
    answered_ = true;
    return Outcome::kAnswered;
  }
  if (result == Transfer::kTimedOut) {
    Kill();
    return Outcome::kTimedOut;
  }
  return Outcome::kGone;
}

void SmbWorker::Kill() { ::kill(pid_, SIGKILL); }

}  // namespace posix
}  // namespace platform
