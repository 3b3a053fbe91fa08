#include "platform/posix/smb_lane.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/posix/errno_map.h"
#include "platform/posix/library_output.h"
#include "platform/posix/smb_api.h"

namespace platform {
namespace posix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSettableAttributes = attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kArchive;

// The library's diagnostics go to our logger, never to standard output.
void DebugToLogger(void*, int level, const char* message) {
  LOG4CXX_TRACE(SmbLogger(), "libsmbclient[" << level << "]: " << (message ? message : ""));
}

// A quiet lane's: nowhere.
void DebugToNowhere(void*, int, const char*) {}

// No echo before each call (see README): the call's own request times out.
int ConnectionIsSound(SMBCCTX*, SMBCSRV*) { return 0; }

void CopyField(char* to, int size, const std::string& from) {
  if (to == nullptr || size <= 0) return;
  const std::size_t n = std::min(from.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

// This process's TCP sockets connected to `address`:445, but those of `except`.
std::vector<int> SmbSocketsTo(const std::string& address, const std::vector<int>& except = {}) {
  std::vector<int> found;
  in_addr wanted{};
  DIR* fds = ::inet_pton(AF_INET, address.c_str(), &wanted) == 1 ? ::opendir("/proc/self/fd") : nullptr;
  if (fds == nullptr) return found;
  while (const dirent* entry = ::readdir(fds)) {
    char* end = nullptr;
    const int fd = static_cast<int>(std::strtol(entry->d_name, &end, 10));
    struct stat st {};
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (end != entry->d_name && *end == '\0' && fd != ::dirfd(fds) && ::fstat(fd, &st) == 0 &&
        S_ISSOCK(st.st_mode) && ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
        peer.sin_family == AF_INET && peer.sin_port == htons(kSmbPort) && peer.sin_addr.s_addr == wanted.s_addr &&
        std::find(except.begin(), except.end(), fd) == except.end()) {
      found.push_back(fd);
    }
  }
  ::closedir(fds);
  return found;
}

bool IsAuthError(int error) { return error == EACCES || error == EPERM; }

// The server did not answer in time or the connection is gone.
bool IsNetworkFailure(int error) {
  for (const int failure : {ETIMEDOUT, ECONNRESET, ECONNABORTED, ECONNREFUSED, EPIPE, ENOTCONN, EHOSTUNREACH,
                            EHOSTDOWN, ENETUNREACH, ENETDOWN, ENETRESET}) {
    if (error == failure) return true;
  }
  return false;
}

// A time limit for one call, however many requests it sends: when it
// passes, a watcher thread shuts the connection's sockets for reading (not
// for writing, so the library gets no SIGPIPE), and whatever the library
// waits for ends at once (see README). The watcher lives with the session;
// a call only notes when it began, and the watcher looks at that note one
// request timeout after it last saw the session idle or the call begin.
class CallDeadline {
 public:
  ~CallDeadline() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      ending_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
  }

  // The sockets to shut; the watcher starts here.
  void Watch(std::vector<int> sockets) {
    sockets_ = std::move(sockets);
    if (!sockets_.empty()) watcher_ = std::thread(&CallDeadline::WatchCalls, this);
  }
  void Start() { started_ = Clock::now().time_since_epoch().count(); }
  void Stop() { started_ = 0; }
  // Whether a deadline has passed; the connection is then closed for good.
  bool Passed() const { return passed_; }
  // Shuts the sockets now, as when a deadline passes.
  void PassNow() {
    const std::lock_guard<std::mutex> lock(mutex_);
    passed_ = true;
    for (const int fd : sockets_) ::shutdown(fd, SHUT_RD);
  }
  const std::vector<int>& sockets() const { return sockets_; }

 private:
  void WatchCalls() {
    const auto limit = std::chrono::milliseconds(kRequestTimeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!ending_ && !passed_) {
      const Clock::rep started = started_;
      const Clock::time_point now = Clock::now();
      if (started != 0 && now - Clock::time_point(Clock::duration(started)) >= limit) {
        passed_ = true;  // before the call that waits can see the sockets shut
        for (const int fd : sockets_) ::shutdown(fd, SHUT_RD);
        return;
      }
      wake_.wait_until(lock, (started != 0 ? Clock::time_point(Clock::duration(started)) : now) + limit);
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread watcher_;
  std::vector<int> sockets_;
  std::atomic<Clock::rep> started_{0};  // when the call under way began; 0: none
  std::atomic<bool> passed_{false};
  bool ending_ = false;
};

}  // namespace

class SmbLane::Impl {
 public:
  Impl(const SmbApi& api, const RemoteName& name, std::string server, const Account& account,
       const std::string& password, bool quiet)
      : api_(api), name_(name), server_(std::move(server)), domain_(account.domain), user_(account.user),
        password_(password), quiet_(quiet), capture_(quiet ? -1 : OpenLibraryCapture()) {}

  ~Impl() {
    if (context_ != nullptr) {
      const std::lock_guard<std::mutex> lock(LibraryCallLock());
      std::optional<LibraryOutput> silence;
    Silence(silence);
      api_.smbc_free_context(context_, 1);
    }
    if (capture_ >= 0) ::close(capture_);
    for (std::string* secret : {&domain_, &user_, &password_}) {
      if (!secret->empty()) explicit_bzero(&(*secret)[0], secret->size());
    }
  }

  ErrorCode Open() {
    const std::lock_guard<std::mutex> lock(LibraryCallLock());
    const std::vector<int> before = SmbSocketsTo(server_);
    if (!CreateContext()) return err::kNotEnoughMemory;
    const int error = Probe(BuildSmbUrl(server_, name_.share, name_.components));
    if (error != 0) {
      if (!quiet_) {
        LOG4CXX_DEBUG(SmbLogger(), "cannot open \\\\" << name_.host << "\\" << name_.share << ": "
                                                        << std::strerror(error));
      }
      if (!IsAuthError(error)) return ErrnoToWindows(error, ErrnoTable::kSmbConnect);
      // A refused logon and a refused share look alike; IPC$ admits every
      // account that logs on, so a refusal there means the logon failed.
      return IsAuthError(Probe(BuildSmbUrl(server_, "IPC$", {}))) ? err::kLogonFailure : err::kAccessDenied;
    }
    // The connection the library made for this lane.
    deadline_.Watch(SmbSocketsTo(server_, before));
    return err::kSuccess;
  }

  bool Create() {
    const std::lock_guard<std::mutex> lock(LibraryCallLock());
    return CreateContext();
  }

  void Run(const SmbRequest& request, SmbReply& reply) {
    reply.entries.clear();
    if (broken_) {
      reply.code = err::kNetNameDeleted;
      return;
    }
    std::vector<std::string> all = name_.components;
    all.insert(all.end(), request.path.begin(), request.path.end());
    const std::string url = BuildSmbUrl(server_, name_.share, all);
    const std::lock_guard<std::mutex> lock(LibraryCallLock());
    std::optional<LibraryOutput> silence;
    Silence(silence);
    started_ = Clock::now();
    if (!broken_) deadline_.Start();
    reply.code = Dispatch(request, url.c_str(), reply.entries);
    deadline_.Stop();
  }

  void Abort() { deadline_.PassNow(); }
  const std::vector<int>& sockets() const { return deadline_.sockets(); }

 private:
  ErrorCode Dispatch(const SmbRequest& request, const char* url, std::vector<FileIdEntry>& entries) {
    switch (request.op) {
      case SmbOp::kExists: {
        struct stat st {};
        return Check(Do(api_.smbc_getFunctionStat, url, &st) == 0);
      }
      case SmbOp::kList:
        return List(url, entries);
      case SmbOp::kSetAttributes:
        return SetAttributes(url, request.attributes, request.listedFile);
      case SmbOp::kMakeDirectory:
        // A missing parent folder: the path is not there.
        return Check(Do(api_.smbc_getFunctionMkdir, url, mode_t{0755}) == 0, ENOENT, err::kPathNotFound);
      case SmbOp::kRemoveFile:
        return RemoveFile(url, request.listedFile);
      case SmbOp::kRemoveDirectory:
        return Check(Do(api_.smbc_getFunctionRmdir, url) == 0, EINVAL, err::kAccessDenied);
    }
    return err::kInvalidParameter;
  }

  // One call: the library reads the whole listing at the opendir, and the
  // entries come from memory.
  ErrorCode List(const char* url, std::vector<FileIdEntry>& out) {
    SMBCFILE* dir = Do(api_.smbc_getFunctionOpendir, url);
    // A folder that is not there: the path, not a file, is missing.
    if (dir == nullptr) return Check(false, ENOENT, err::kPathNotFound);
    struct stat st {};
    while (const libsmb_file_info* info = Do(api_.smbc_getFunctionReaddirPlus2, dir, &st)) {
      // The inode number is the server's file id.
      out.push_back({info->attrs != 0 ? info->attrs : attr::kNormal, 0, static_cast<std::uint64_t>(st.st_ino),
                     info->name != nullptr ? info->name : ""});
    }
    const ErrorCode code = Check(errno == 0);
    api_.smbc_getFunctionClosedir(context_)(context_, dir);
    if (code != err::kSuccess) out.clear();
    return code;
  }

  ErrorCode SetAttributes(const char* url, std::uint32_t attributes, bool listedFile) {
    bool folder = false;
    if (!listedFile && !Stat(url, folder)) return Check(false);
    const std::uint32_t wanted = attributes & kSettableAttributes;
    if (!folder && wanted == 0) {
      // The library ignores a DOS mode of 0 ("leave as is"); a file mode
      // with write bits and no execute bits clears every attribute instead.
      return Check(Do(api_.smbc_getFunctionChmod, url, mode_t{0644}) == 0);
    }
    // A folder keeps its directory bit, which also makes the value non-zero.
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", folder ? (wanted | attr::kDirectory) : wanted);
    return Check(Do(api_.smbc_getFunctionSetxattr, url, "system.dos_attr.mode", static_cast<const void*>(text),
                    std::strlen(text), 0) == 0);
  }

  // The library's unlink removes an empty folder (and "removes" a full
  // one): DeleteFileA refuses folders, so this looks first, unless the
  // folder's listing showed a file by that name.
  ErrorCode RemoveFile(const char* url, bool listedFile) {
    bool folder = false;
    if (!listedFile && !Stat(url, folder)) return Check(false);
    if (folder) return err::kAccessDenied;
    // The server's "cannot delete" (a read-only file) arrives as EINVAL.
    return Check(Do(api_.smbc_getFunctionUnlink, url) == 0, EINVAL, err::kAccessDenied);
  }

  // The library's output kept off the program's streams (a quiet lane's
  // process has them nowhere already).
  void Silence(std::optional<LibraryOutput>& guard) {
    if (!quiet_) guard.emplace(SmbLogger(), capture_);
  }

  bool CreateContext() {
    std::optional<LibraryOutput> silence;
    Silence(silence);
    context_ = api_.smbc_new_context();
    if (context_ == nullptr) return false;
    api_.smbc_setDebug(context_, 0);
    api_.smbc_setLogCallback(context_, nullptr, quiet_ ? DebugToNowhere : DebugToLogger);
    api_.smbc_setOptionDebugToStderr(context_, 1);
    api_.smbc_setOptionUserData(context_, this);
    api_.smbc_setFunctionAuthDataWithContext(context_, &Impl::Authenticate);
    api_.smbc_setFunctionCheckServer(context_, ConnectionIsSound);
    // Only the given account: no anonymous retry, Kerberos, ticket cache or hash.
    api_.smbc_setOptionNoAutoAnonymousLogin(context_, 1);
    api_.smbc_setOptionUseKerberos(context_, 0);
    api_.smbc_setOptionFallbackAfterKerberos(context_, 0);
    api_.smbc_setOptionUseCCache(context_, 0);
    api_.smbc_setOptionUseNTHash(context_, 0);
    api_.smbc_setTimeout(context_, kRequestTimeoutMs);
    api_.smbc_setPort(context_, kSmbPort);
    if (api_.smbc_init_context(context_) != nullptr) return true;
    api_.smbc_free_context(context_, 0);
    context_ = nullptr;
    return false;
  }

  // Only the server of this connection gets the credentials: a referral to
  // any other server is offered none and fails.
  static void Authenticate(SMBCCTX* context, const char* server, const char*, char* workgroup, int workgroupSize,
                           char* user, int userSize, char* password, int passwordSize) {
    const SmbApi* api = LoadSmbApi();
    auto* self = api != nullptr ? static_cast<Impl*>(api->smbc_getOptionUserData(context)) : nullptr;
    const bool ours = self != nullptr && server != nullptr && self->server_ == server;
    CopyField(workgroup, workgroupSize, ours ? self->domain_ : std::string());
    CopyField(user, userSize, ours ? self->user_ : std::string());
    CopyField(password, passwordSize, ours ? self->password_ : std::string());
  }

  // Opens and closes a folder: 0 or the errno of the failure.
  int Probe(const std::string& url) {
    std::optional<LibraryOutput> silence;
    Silence(silence);
    SMBCFILE* dir = Do(api_.smbc_getFunctionOpendir, url.c_str());
    if (dir == nullptr) return errno != 0 ? errno : EIO;
    api_.smbc_getFunctionClosedir(context_)(context_, dir);
    return 0;
  }

  // Calls the library function that `get` hands out, with errno cleared.
  template <typename Get, typename... Args>
  auto Do(Get get, Args... args) -> decltype(get(nullptr)(nullptr, args...)) {
    errno = 0;
    return get(context_)(context_, args...);
  }

  // 0 when the call succeeded, else its errno's number (Failure).
  ErrorCode Check(bool succeeded, int refusal = 0, ErrorCode answer = err::kSuccess) {
    return succeeded ? err::kSuccess : Failure(errno != 0 ? errno : EIO, refusal, answer);
  }

  // A failed call's number: `answer` for the server's `refusal`; a timeout
  // (121) or a broken connection (64), which end the lane, when it got no
  // answer: one that took the request timeout counts, whatever errno the
  // library reports.
  ErrorCode Failure(int error, int refusal = 0, ErrorCode answer = err::kSuccess) {
    const bool unanswered = IsNetworkFailure(error) || deadline_.Passed() ||
                            Clock::now() - started_ >= std::chrono::milliseconds(kRequestTimeoutMs);
    if (!unanswered && refusal != 0 && error == refusal) return answer;
    if (!unanswered) return ErrnoToWindows(error, ErrnoTable::kSmbCall);
    const bool timedOut = deadline_.Passed() || !IsNetworkFailure(error) || error == ETIMEDOUT;
    if (!broken_ && !quiet_) {
      LOG4CXX_DEBUG(SmbLogger(), "the server at " << server_ << " stopped answering: "
                                                  << std::strerror(timedOut ? ETIMEDOUT : error));
    }
    broken_ = true;
    return timedOut ? err::kSemTimeout : err::kNetNameDeleted;
  }

  // Looks up whether `url` is a folder: false (errno set) when it cannot.
  bool Stat(const char* url, bool& folder) {
    struct stat st {};
    if (Do(api_.smbc_getFunctionStat, url, &st) != 0) return false;
    folder = S_ISDIR(st.st_mode);
    return true;
  }

  const SmbApi& api_;
  const RemoteName name_;
  SMBCCTX* context_ = nullptr;
  const std::string server_;
  std::string domain_;
  std::string user_;
  std::string password_;
  const bool quiet_;
  bool broken_ = false;        // the server stopped answering or the connection broke
  Clock::time_point started_;  // of the call under way
  CallDeadline deadline_;
  int capture_;  // for what the library prints during a call; -1 when quiet
};

SmbLane::SmbLane(const SmbApi& api, const RemoteName& name, std::string server, const Account& account,
                 const std::string& password, bool quiet)
    : impl_(new Impl(api, name, std::move(server), account, password, quiet)) {}
SmbLane::~SmbLane() = default;
ErrorCode SmbLane::Open() { return impl_->Open(); }
bool SmbLane::Create() { return impl_->Create(); }
void SmbLane::Run(const SmbRequest& request, SmbReply& reply) { impl_->Run(request, reply); }
void SmbLane::Abort() { impl_->Abort(); }
const std::vector<int>& SmbLane::sockets() const { return impl_->sockets(); }

}  // namespace posix
}  // namespace platform
