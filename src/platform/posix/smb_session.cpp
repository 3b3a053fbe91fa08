#include "platform/posix/smb_session.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <utility>

#include "platform/posix/library_output.h"
#include "platform/posix/smb_lane.h"
#include "platform/posix/smb_worker.h"

namespace platform {
namespace posix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectTimeoutMs = 4000;           // the whole TCP connection attempt
constexpr std::size_t kMaxCredentialLength = 255;  // the library's buffers

// How many folders' listings a session keeps in mind: a file that one of
// them showed is removed without a look at what it is first.
constexpr std::size_t kListingsKept = 64;

// The IPv4 address of `host` on which port 445 answers within the connect
// timeout: the library gets that address and never resolves (or
// broadcasts) on its own.
ErrorCode Reach(const std::string& host, std::string& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(kSmbPort).c_str(), &hints, &found) != 0 || found == nullptr) {
    LOG4CXX_DEBUG(SmbLogger(), "cannot resolve " << host);
    return err::kBadNetPath;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
  ErrorCode code = err::kBadNetPath;
  for (const addrinfo* entry = found; entry != nullptr && code != err::kSuccess && Clock::now() < deadline;
       entry = entry->ai_next) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int result = fd < 0 ? errno : ::connect(fd, entry->ai_addr, entry->ai_addrlen) == 0 ? 0 : errno;
    while (result == EINPROGRESS) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd wait{fd, POLLOUT, 0};
      const int ready = left <= 0 ? 0 : ::poll(&wait, 1, static_cast<int>(left));
      socklen_t length = sizeof result;
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) {
        result = ready == 0 ? ETIMEDOUT : errno;
      } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0) {
        result = errno;
      }
    }
    if (fd >= 0) ::close(fd);
    char text[NI_MAXHOST];
    if (result != 0) {
      LOG4CXX_DEBUG(SmbLogger(), "no SMB service at " << host << ": " << std::strerror(result));
    } else if (::getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0) {
      address = text;
      code = err::kSuccess;
    }
  }
  ::freeaddrinfo(found);
  return code;
}

// Whether a call's result ends the session: the server stopped answering.
bool Ends(ErrorCode code) { return code == err::kSemTimeout || code == err::kNetNameDeleted; }

// The session's own lane takes a call when it is free; otherwise a worker
// that is free, or a new one while there are fewer than kMostCalls lanes,
// or the first lane to come free. A worker is forked only while the library
// carries no call in this process.
class LanedSession final : public SmbSession {
 public:
  LanedSession(const SmbApi& api, const RemoteName& name, std::string server, const Account& account,
               const std::string& password)
      : SmbSession(name), api_(api), server_(std::move(server)), account_(account), password_(password),
        own_(api, name, server_, account, password, false) {}

  ~LanedSession() override {
    workers_.clear();  // before the own lane logs off
    for (std::string* secret : {&account_.domain, &account_.user, &password_}) {
      if (!secret->empty()) explicit_bzero(&(*secret)[0], secret->size());
    }
  }

  ErrorCode Open() { return own_.Open(); }

  ErrorCode Exists(const Path& path) override { return Call({SmbOp::kExists, path}); }

  ErrorCode List(const Path& path, std::vector<FileIdEntry>& out) override {
    SmbReply reply;
    const ErrorCode code = Call({SmbOp::kList, path}, &reply);
    out = std::move(reply.entries);
    if (code != err::kSuccess) {
      out.clear();
      return code;
    }
    std::set<std::string> files;
    for (const FileIdEntry& entry : out) {
      if ((entry.attributes & attr::kDirectory) == 0) files.insert(entry.name);
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    listings_.emplace_back(path, std::move(files));
    if (listings_.size() > kListingsKept) listings_.pop_front();
    return code;
  }

  ErrorCode SetAttributes(const Path& path, std::uint32_t attributes) override {
    return Call({SmbOp::kSetAttributes, path, attributes, Listed(path)});
  }
  ErrorCode MakeDirectory(const Path& path) override { return Call({SmbOp::kMakeDirectory, path}); }
  ErrorCode RemoveFile(const Path& path) override { return Call({SmbOp::kRemoveFile, path, 0, Listed(path)}); }
  ErrorCode RemoveDirectory(const Path& path) override { return Call({SmbOp::kRemoveDirectory, path}); }

 private:
  ErrorCode Call(const SmbRequest& request, SmbReply* out = nullptr) {
    SmbReply scratch;
    SmbReply& reply = out != nullptr ? *out : scratch;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (broken_) return err::kNetNameDeleted;
      if (ownFree_) {
        ownFree_ = false;
        lock.unlock();
        own_.Run(request, reply);
        lock.lock();
        ownFree_ = true;
        return Finish(reply.code);
      }
      if (!free_.empty()) {
        SmbWorker* worker = free_.back();
        free_.pop_back();
        lock.unlock();
        // A worker's first call makes its connection too, with a request
        // timeout of its own; a server that stops answering meanwhile is
        // found by the calls of the lanes already connected.
        const int budget = worker->answered() ? kRequestTimeoutMs : 2 * kRequestTimeoutMs;
        const auto deadline = Clock::now() + std::chrono::milliseconds(budget);
        const SmbWorker::Outcome outcome = worker->Run(request, reply, deadline);
        lock.lock();
        if (outcome == SmbWorker::Outcome::kAnswered) {
          free_.push_back(worker);
          return Finish(reply.code);
        }
        // It did not answer in time, or is gone: the server stopped answering.
        return Finish(outcome == SmbWorker::Outcome::kTimedOut ? err::kSemTimeout : err::kNetNameDeleted, true);
      }
      if (!starting_ && canStart_ && workers_.size() + 1 < kMostCalls) {
        StartWorker(lock);
        continue;
      }
      laneFreed_.wait(lock);
    }
  }

  // A call's result; one that ends the session ends every lane's call.
  ErrorCode Finish(ErrorCode code, bool ends = false) {
    if ((ends || Ends(code)) && !broken_) {
      broken_ = true;
      own_.Abort();
      for (const auto& worker : workers_) worker->Kill();
    }
    laneFreed_.notify_all();
    return code;
  }

  // Forks a worker with the lock let go; it joins the free lanes.
  void StartWorker(std::unique_lock<std::mutex>& lock) {
    starting_ = true;
    std::vector<int> inherited = own_.sockets();
    for (const auto& worker : workers_) inherited.push_back(worker->socket());
    lock.unlock();
    std::unique_ptr<SmbWorker> worker;
    {
      const std::lock_guard<std::mutex> quiet(LibraryCallLock());
      worker = SmbWorker::Start([this] { return MakeWorkerLane(); }, inherited);
    }
    lock.lock();
    starting_ = false;
    if (worker) {
      free_.push_back(worker.get());
      workers_.push_back(std::move(worker));
    } else {
      canStart_ = false;
      LOG4CXX_DEBUG(SmbLogger(), "cannot start a worker process: " << std::strerror(errno));
    }
    laneFreed_.notify_all();
  }

  // In the worker: its own lane, connected at its first call.
  std::unique_ptr<SmbLane> MakeWorkerLane() {
    auto lane = std::make_unique<SmbLane>(api_, name(), server_, account_, password_, true);
    return lane->Create() ? std::move(lane) : nullptr;
  }

  // Whether a listing kept in mind showed a file at `path`.
  bool Listed(const Path& path) {
    if (path.empty()) return false;
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = listings_.rbegin(); it != listings_.rend(); ++it) {
      if (std::equal(it->first.begin(), it->first.end(), path.begin(), path.end() - 1)) {
        return it->second.count(path.back()) != 0;
      }
    }
    return false;
  }

  const SmbApi& api_;
  const std::string server_;  // the numeric address given to libsmbclient
  Account account_;
  std::string password_;
  SmbLane own_;

  std::mutex mutex_;
  std::condition_variable laneFreed_;
  bool ownFree_ = true;
  std::vector<std::unique_ptr<SmbWorker>> workers_;
  std::vector<SmbWorker*> free_;  // the workers without a call
  bool starting_ = false;         // a worker is being forked
  bool canStart_ = true;          // no fork has failed
  bool broken_ = false;           // a call ended the session
  std::deque<std::pair<Path, std::set<std::string>>> listings_;  // newest last
};

}  // namespace

ErrorCode SmbSession::Connect(const RemoteName& name, const Account& account, const std::string& password,
                              std::shared_ptr<SmbSession>& out) {
  out.reset();
  if (std::max({account.domain.size(), account.user.size(), password.size()}) > kMaxCredentialLength) {
    return err::kInvalidParameter;
  }
  const LibraryOutput quiet(SmbLogger());
  // The library comes first: without it nothing goes out on the network.
  const SmbApi* api = LoadSmbApi();
  if (api == nullptr) return err::kNoNetwork;
  std::string server;
  ErrorCode code = Reach(name.host, server);
  if (code != err::kSuccess) return code;
  auto session = std::make_shared<LanedSession>(*api, name, server, account, password);
  code = session->Open();
  if (code == err::kSuccess) out = std::move(session);
  return code;
}

}  // namespace posix
}  // namespace platform
