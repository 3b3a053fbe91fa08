#include "platform/posix/smb_session.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <libsmbclient.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/last_error.h"
#include "platform/posix/library_output.h"

namespace platform {
namespace posix {
namespace {

log4cxx::LoggerPtr SmbLogger() {
  static log4cxx::LoggerPtr logger = LayerLogger("Sharemapper.Smb");
  return logger;
}

// libsmbclient is opened at the first session and never unloaded (see
// README); its header is compiled against, so every pointer below has the
// type the installed library declares.
// Every libsmbclient function the SMB layer calls.
#define SM_SMB_FUNCTIONS(X)                \
  X(smbc_new_context)                      \
  X(smbc_free_context)                     \
  X(smbc_init_context)                     \
  X(smbc_setDebug)                         \
  X(smbc_setLogCallback)                   \
  X(smbc_setOptionDebugToStderr)           \
  X(smbc_setOptionUserData)                \
  X(smbc_getOptionUserData)                \
  X(smbc_setFunctionAuthDataWithContext)   \
  X(smbc_setFunctionCheckServer)           \
  X(smbc_setOptionNoAutoAnonymousLogin)    \
  X(smbc_setOptionUseKerberos)             \
  X(smbc_setOptionFallbackAfterKerberos)   \
  X(smbc_setOptionUseCCache)               \
  X(smbc_setOptionUseNTHash)               \
  X(smbc_setTimeout)                       \
  X(smbc_setPort)                          \
  X(smbc_getFunctionOpendir)               \
  X(smbc_getFunctionClosedir)              \
  X(smbc_getFunctionReaddirPlus2)          \
  X(smbc_getFunctionStat)                  \
  X(smbc_getFunctionChmod)                 \
  X(smbc_getFunctionSetxattr)              \
  X(smbc_getFunctionMkdir)                 \
  X(smbc_getFunctionUnlink)                \
  X(smbc_getFunctionRmdir)

// One pointer per function, named like it: api.smbc_new_context().
struct SmbApi {
#define SM_SMB_MEMBER(name) decltype(&::name) name = nullptr;
  SM_SMB_FUNCTIONS(SM_SMB_MEMBER)
#undef SM_SMB_MEMBER
};

#if defined(__SANITIZE_ADDRESS__)
#define SM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define SM_SANITIZED 1
#endif
#endif

// Lazy, local, and (but in a sanitizer build) deep-bound: see README.
#ifdef SM_SANITIZED
constexpr int kOpenFlags = RTLD_LAZY | RTLD_LOCAL;
#else
constexpr int kOpenFlags = RTLD_LAZY | RTLD_LOCAL | RTLD_DEEPBIND;
#endif

struct Loader {
  std::mutex mutex;
  std::string library = kSmbLibrary;
  bool tried = false;
  bool loaded = false;
  // Only a complete load fills it; sessions keep pointing here.
  SmbApi table;
};

Loader& State() {
  static Loader state;
  return state;
}

std::string LastDlError() {
  const char* text = ::dlerror();
  return text != nullptr ? text : "unknown reason";
}

// False, with the reason logged, when the library or a function is missing.
bool Load(const std::string& library, SmbApi& out) {
  void* handle = ::dlopen(library.c_str(), kOpenFlags);
  if (handle == nullptr) {
    LOG4CXX_ERROR(SmbLogger(), "cannot load " << library << ": " << LastDlError()
                                           << "; SMB connections are not available (Windows error "
                                           << kNoNetwork << ")");
    return false;
  }
  SmbApi api;
  const char* missing = nullptr;
#define SM_SMB_RESOLVE(name)                                                     \
  if (missing == nullptr) {                                                      \
    api.name = reinterpret_cast<decltype(api.name)>(::dlsym(handle, #name));     \
    if (api.name == nullptr) missing = #name;                                    \
  }
  SM_SMB_FUNCTIONS(SM_SMB_RESOLVE)
#undef SM_SMB_RESOLVE
  if (missing != nullptr) {
    LOG4CXX_ERROR(SmbLogger(), library << " has no function " << missing
                                    << "; SMB connections are not available (Windows error " << kNoNetwork
                                    << ")");
    ::dlclose(handle);
    return false;
  }
  out = api;
  return true;
}

// The functions, loading the library on the first call; null (the cause
// logged once) when it cannot be loaded or lacks one of them.
const SmbApi* LoadSmbApi() {
  Loader& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.tried) {
    state.tried = true;
    state.loaded = Load(state.library, state.table);
    if (state.loaded) LOG4CXX_DEBUG(SmbLogger(), "loaded " << state.library);
  }
  return state.loaded ? &state.table : nullptr;
}

constexpr std::uint16_t kSmbPort = 445;  // never NetBIOS's 139
constexpr int kConnectTimeoutMs = 4000;  // the whole TCP connection attempt
constexpr int kRequestTimeoutMs = 5000;  // one call of an established session
constexpr std::size_t kMaxCredentialLength = 255;  // the library's buffers

constexpr std::uint32_t kSettableAttributes =
    attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kArchive;

// The library's diagnostics go to our logger, never to standard output.
void DebugToLogger(void*, int level, const char* message) {
  log4cxx::LoggerPtr logger = SmbLogger();
  if (logger->isTraceEnabled()) {
    LOG4CXX_TRACE(logger, "libsmbclient[" << level << "]: " << (message ? message : ""));
  }
}

// No echo before each call (see README): the call's own request times out.
int ConnectionIsSound(SMBCCTX*, SMBCSRV*) { return 0; }

void Wipe(std::string& secret) {
  if (!secret.empty()) explicit_bzero(&secret[0], secret.size());
  secret.clear();
}

void CopyField(char* to, int size, const std::string& from) {
  if (to == nullptr || size <= 0) return;
  const std::size_t n = std::min(from.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

using Clock = std::chrono::steady_clock;

// Connects to address:445 within the remaining time. 0 or an errno value.
int ProbePort(const sockaddr_in& address, Clock::time_point deadline) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
  while (result == EINPROGRESS) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd wait{fd, POLLOUT, 0};
    const int ready = left <= 0 ? 0 : ::poll(&wait, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    socklen_t length = sizeof result;
    if (ready <= 0) {
      result = ready == 0 ? ETIMEDOUT : errno;
    } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0) {
      result = errno;
    }
  }
  ::close(fd);
  return result;
}

// The IPv4 address of `host` on which port 445 answers: the library gets
// that address and never resolves (or broadcasts) on its own.
ErrorCode Reach(const std::string& host, std::string& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    LOG4CXX_DEBUG(SmbLogger(), "cannot resolve " << host);
    return err::kBadNetPath;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
  ErrorCode code = err::kBadNetPath;
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    sockaddr_in target = *reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    target.sin_port = htons(kSmbPort);
    const int result = ProbePort(target, deadline);
    if (result == 0) {
      std::array<char, INET_ADDRSTRLEN> text{};
      if (::inet_ntop(AF_INET, &target.sin_addr, text.data(), text.size()) != nullptr) {
        address = text.data();
        code = err::kSuccess;
        break;
      }
    } else {
      LOG4CXX_DEBUG(SmbLogger(), "no SMB service at " << host << ": " << std::strerror(result));
    }
    if (Clock::now() >= deadline) break;
  }
  ::freeaddrinfo(found);
  return code;
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

// The connection attempt's errno, once the host answered on its port (an
// EACCES or EPERM the caller decides).
ErrorCode ConnectErrorToWindows(int error) {
  return ErrnoToWindows(error,
                        {{ENOENT, err::kBadNetName}, {ENODEV, err::kBadNetName}, {ENOTDIR, err::kBadNetName},
                         {ENXIO, err::kBadNetName}, {ECONNREFUSED, err::kBadNetPath},
                         {EHOSTUNREACH, err::kBadNetPath}, {ENETUNREACH, err::kBadNetPath},
                         {ETIMEDOUT, err::kBadNetPath}, {EHOSTDOWN, err::kBadNetPath},
                         {ENOMEM, err::kNotEnoughMemory}},
                        err::kUnexpectedNetworkError, /*shared=*/false);
}

// A file operation's errno on an open session (timeouts are seen before).
ErrorCode SmbFileErrorToWindows(int error) {
  return ErrnoToWindows(error, {{EBUSY, err::kSharingViolation}}, err::kUnexpectedNetworkError);
}

// A time limit for one call, however many requests it sends: when it
// passes, a watcher thread shuts the connection's sockets for reading, so
// whatever the library waits for ends at once (see README).
class CallDeadline {
 public:
  explicit CallDeadline(std::chrono::milliseconds limit) : limit_(limit) {}
  ~CallDeadline() {
    Locked([this] { ending_ = true; });
    changed_.notify_all();
    if (watcher_.joinable()) watcher_.join();
  }
  CallDeadline(const CallDeadline&) = delete;
  CallDeadline& operator=(const CallDeadline&) = delete;

  // The sockets to shut when a deadline passes.
  void Watch(std::vector<int> sockets) { Locked([&] { sockets_ = std::move(sockets); }); }
  // A call begins: its deadline is the limit from now. The watcher starts
  // with the first call and stays.
  void Start() {
    Locked([this] {
      if (sockets_.empty() || passed_) return;
      deadline_ = Clock::now() + limit_;
      running_ = true;
      if (!watcher_.joinable()) watcher_ = std::thread(&CallDeadline::WatchLoop, this);
    });
    changed_.notify_all();
  }
  void Stop() { Locked([this] { running_ = false; }); }
  // Whether a deadline has passed; the connection is then closed for good.
  bool Passed() {
    bool passed = false;
    Locked([&] { passed = passed_; });
    return passed;
  }

 private:
  template <typename F>
  void Locked(F f) {
    const std::lock_guard<std::mutex> lock(mutex_);
    f();
  }

  void WatchLoop() {
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

  const std::chrono::milliseconds limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread watcher_;
  std::vector<int> sockets_;
  bool running_ = false;  // a call is under way
  bool passed_ = false;
  bool ending_ = false;
  Clock::time_point deadline_;
};

// This process's TCP sockets connected to `address`:`port`.
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

}  // namespace

struct SmbSession::Impl {
  explicit Impl(const SmbApi& functions) : api(functions) {}

  const SmbApi& api;
  SMBCCTX* context = nullptr;
  std::string server;  // the numeric address given to libsmbclient
  std::string domain;
  std::string user;
  std::string password;
  bool broken = false;     // the server stopped answering or the connection broke
  Clock::time_point started;  // of the operation under way
  CallDeadline deadline{std::chrono::milliseconds(kRequestTimeoutMs)};

  ~Impl() {
    if (context != nullptr) {
      const LibraryOutput quiet(SmbLogger());
      api.smbc_free_context(context, 1);
    }
    Wipe(domain);
    Wipe(user);
    Wipe(password);
  }

  // Only the server of this connection gets the credentials: a referral to
  // any other server is offered none and fails.
  static void Authenticate(SMBCCTX* context, const char* server, const char*, char* workgroup,
                           int workgroupSize, char* user, int userSize, char* password,
                           int passwordSize) {
    auto* self = static_cast<Impl*>(LoadSmbApi()->smbc_getOptionUserData(context));
    const bool ours = self != nullptr && server != nullptr && self->server == server;
    CopyField(workgroup, workgroupSize, ours ? self->domain : std::string());
    CopyField(user, userSize, ours ? self->user : std::string());
    CopyField(password, passwordSize, ours ? self->password : std::string());
  }

  bool Create() {
    context = api.smbc_new_context();
    if (context == nullptr) return false;
    api.smbc_setDebug(context, 0);
    api.smbc_setLogCallback(context, nullptr, DebugToLogger);
    api.smbc_setOptionDebugToStderr(context, 1);
    api.smbc_setOptionUserData(context, this);
    api.smbc_setFunctionAuthDataWithContext(context, &Impl::Authenticate);
    api.smbc_setFunctionCheckServer(context, ConnectionIsSound);
    // Only the given account: no anonymous retry, Kerberos, ticket cache or hash.
    api.smbc_setOptionNoAutoAnonymousLogin(context, 1);
    api.smbc_setOptionUseKerberos(context, 0);
    api.smbc_setOptionFallbackAfterKerberos(context, 0);
    api.smbc_setOptionUseCCache(context, 0);
    api.smbc_setOptionUseNTHash(context, 0);
    api.smbc_setTimeout(context, kRequestTimeoutMs);
    api.smbc_setPort(context, kSmbPort);
    if (api.smbc_init_context(context) == nullptr) {
      api.smbc_free_context(context, 0);
      context = nullptr;
      return false;
    }
    return true;
  }

  // Calls the library function that `get` hands out, with errno cleared.
  template <typename Get, typename... Args>
  auto Do(Get get, Args... args) {
    errno = 0;
    return get(context)(context, args...);
  }

  // The result of a call: 0 when it succeeded, else the number of its errno,
  // or `answer` for an `error` the server gave (rather than a timeout).
  ErrorCode Result(bool succeeded, int error = 0, ErrorCode answer = err::kSuccess) {
    if (succeeded) return err::kSuccess;
    const int failure = errno != 0 ? errno : EIO;
    return error != 0 && failure == error && !Unanswered(failure) ? answer : FileError(failure);
  }

  // A failed file operation's number; a timeout (121) or a broken
  // connection (64) ends the session (see README).
  ErrorCode FileError(int error) {
    if (!Unanswered(error)) return SmbFileErrorToWindows(error);
    const bool timedOut = deadline.Passed() || !IsNetworkFailure(error) || error == ETIMEDOUT;
    if (!broken) {
      LOG4CXX_DEBUG(SmbLogger(), "the server at " << server << " stopped answering: "
                                                  << std::strerror(timedOut ? ETIMEDOUT : error));
    }
    broken = true;
    return timedOut ? err::kSemTimeout : err::kNetNameDeleted;
  }

  // Starts an operation; false when the session is already over.
  bool Begin() {
    started = Clock::now();
    if (broken) return false;
    deadline.Start();
    return true;
  }

  // One operation, with the library's output kept off the program's streams.
  class Call {
   public:
    explicit Call(Impl& impl) : impl_(impl), quiet_(SmbLogger()), open_(impl.Begin()) {}
    ~Call() { impl_.deadline.Stop(); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    bool open() const { return open_; }  // false when the session was already over

   private:
    Impl& impl_;
    const LibraryOutput quiet_;
    const bool open_;
  };

  // Whether the operation failed for want of an answer: one that took the
  // request timeout counts, whatever errno the library reports.
  bool Unanswered(int error) {
    return IsNetworkFailure(error) || deadline.Passed() ||
           Clock::now() - started >= std::chrono::milliseconds(kRequestTimeoutMs);
  }

  // Opens and closes a folder: 0 or the errno of the failure.
  int Probe(const std::string& url) {
    SMBCFILE* dir = Do(api.smbc_getFunctionOpendir, url.c_str());
    if (dir == nullptr) return errno != 0 ? errno : EIO;
    api.smbc_getFunctionClosedir(context)(context, dir);
    return 0;
  }

  // The next entry of a listing; null at its end or on a failure (`error`).
  const libsmb_file_info* Read(void* handle, struct stat& st, ErrorCode& error) {
    const libsmb_file_info* info = Do(api.smbc_getFunctionReaddirPlus2, static_cast<SMBCFILE*>(handle), &st);
    error = info != nullptr || errno == 0 ? err::kSuccess : FileError(errno);
    return info;
  }
};

SmbSession::SmbSession(std::unique_ptr<Impl> impl, RemoteName name)
    : impl_(std::move(impl)), name_(std::move(name)) {}

SmbSession::~SmbSession() = default;

ErrorCode SmbSession::Connect(const RemoteName& name, const Account& account,
                              const std::string& password, std::shared_ptr<SmbSession>& out) {
  out.reset();
  if (account.domain.size() > kMaxCredentialLength || account.user.size() > kMaxCredentialLength ||
      password.size() > kMaxCredentialLength) {
    return err::kInvalidParameter;
  }
  const LibraryOutput quiet(SmbLogger());
  // The library comes first: without it nothing goes out on the network.
  const SmbApi* api = LoadSmbApi();
  if (api == nullptr) return kNoNetwork;

  auto impl = std::make_unique<Impl>(*api);
  ErrorCode code = Reach(name.host, impl->server);
  if (code != err::kSuccess) return code;

  impl->domain = account.domain;
  impl->user = account.user;
  impl->password = password;
  const std::vector<int> before = SocketsConnectedTo(impl->server, kSmbPort);
  if (!impl->Create()) return err::kNotEnoughMemory;

  const int error = impl->Probe(BuildSmbUrl(impl->server, name.share, name.components));
  if (error != 0) {
    LOG4CXX_DEBUG(SmbLogger(), "cannot open \\\\" << name.host << "\\" << name.share << ": "
                                                    << std::strerror(error));
    if (!IsAuthError(error)) return ConnectErrorToWindows(error);
    // A refused logon and a refused share look alike; IPC$ admits every
    // account that logs on, so a refusal there means the logon failed.
    const int ipcError = impl->Probe(BuildSmbUrl(impl->server, "IPC$", {}));
    return IsAuthError(ipcError) ? err::kLogonFailure : err::kAccessDenied;
  }
  // The connection the library made for this session.
  std::vector<int> ours = SocketsConnectedTo(impl->server, kSmbPort);
  ours.erase(std::remove_if(ours.begin(), ours.end(),
                            [&](int fd) { return std::find(before.begin(), before.end(), fd) != before.end(); }),
             ours.end());
  impl->deadline.Watch(std::move(ours));
  out.reset(new SmbSession(std::move(impl), name));
  return err::kSuccess;
}

std::string SmbSession::UrlFor(const std::vector<std::string>& components) const {
  std::vector<std::string> all = name_.components;
  all.insert(all.end(), components.begin(), components.end());
  return BuildSmbUrl(impl_->server, name_.share, all);
}

ErrorCode SmbSession::Exists(const std::string& url) {
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  struct stat st {};
  return impl_->Result(impl_->Do(impl_->api.smbc_getFunctionStat, url.c_str(), &st) == 0);
}

ErrorCode SmbSession::OpenDirectory(const std::string& url, std::unique_ptr<SmbDirectory>& out) {
  out.reset();
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  SMBCFILE* dir = impl_->Do(impl_->api.smbc_getFunctionOpendir, url.c_str());
  // A folder that is not there: the path, not a file, is missing.
  if (dir == nullptr) return impl_->Result(false, ENOENT, err::kPathNotFound);
  out.reset(new SmbDirectory(shared_from_this(), dir));
  return err::kSuccess;
}

ErrorCode SmbSession::SetAttributes(const std::string& url, std::uint32_t attributes) {
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  struct stat st {};
  if (impl_->Do(impl_->api.smbc_getFunctionStat, url.c_str(), &st) != 0) return impl_->Result(false);
  const std::uint32_t wanted = attributes & kSettableAttributes;
  if (!S_ISDIR(st.st_mode) && wanted == 0) {
    // The library ignores a DOS mode of 0 ("leave as is"); a file mode with
    // write bits and no execute bits clears every attribute instead.
    return impl_->Result(impl_->Do(impl_->api.smbc_getFunctionChmod, url.c_str(), mode_t{0644}) == 0);
  }
  // A folder keeps its directory bit, which also makes the value non-zero.
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", S_ISDIR(st.st_mode) ? (wanted | attr::kDirectory) : wanted);
  return impl_->Result(impl_->Do(impl_->api.smbc_getFunctionSetxattr, url.c_str(), "system.dos_attr.mode",
                                 static_cast<const void*>(text), std::strlen(text), 0) == 0);
}

ErrorCode SmbSession::MakeDirectory(const std::string& url) {
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  // A missing parent folder: the path is not there.
  return impl_->Result(impl_->Do(impl_->api.smbc_getFunctionMkdir, url.c_str(), mode_t{0755}) == 0, ENOENT,
                       err::kPathNotFound);
}

ErrorCode SmbSession::RemoveFile(const std::string& url) {
  // The library's unlink removes an empty folder (and "removes" a full one):
  // DeleteFileA refuses folders, so this looks first.
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  struct stat st {};
  if (impl_->Do(impl_->api.smbc_getFunctionStat, url.c_str(), &st) != 0) return impl_->Result(false);
  if (S_ISDIR(st.st_mode)) return err::kAccessDenied;
  // The server's "cannot delete" (a read-only file) arrives as EINVAL.
  return impl_->Result(impl_->Do(impl_->api.smbc_getFunctionUnlink, url.c_str()) == 0, EINVAL, err::kAccessDenied);
}

ErrorCode SmbSession::RemoveDirectory(const std::string& url) {
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  return impl_->Result(impl_->Do(impl_->api.smbc_getFunctionRmdir, url.c_str()) == 0, EINVAL, err::kAccessDenied);
}

ErrorCode SmbSession::ListFileIds(const std::string& url, std::vector<FileIdEntry>& entries) {
  const LibraryOutput quiet(SmbLogger());
  entries.clear();
  std::unique_ptr<SmbDirectory> dir;
  ErrorCode code = OpenDirectory(url, dir);
  if (code != err::kSuccess) return code;
  // The entries come from memory; the inode number is the server's file id.
  struct stat st {};
  while (const libsmb_file_info* info = impl_->Read(dir->handle_, st, code)) {
    FileIdEntry entry;
    entry.name = info->name != nullptr ? info->name : "";
    entry.attributes = info->attrs != 0 ? info->attrs : attr::kNormal;
    entry.fileId = static_cast<std::uint64_t>(st.st_ino);
    entries.push_back(std::move(entry));
    st = {};
  }
  return code;
}

SmbDirectory::SmbDirectory(std::shared_ptr<SmbSession> session, void* handle)
    : session_(std::move(session)), handle_(handle) {}

SmbDirectory::~SmbDirectory() {
  const LibraryOutput quiet(SmbLogger());
  SMBCCTX* context = session_->impl_->context;
  session_->impl_->api.smbc_getFunctionClosedir(context)(context, static_cast<SMBCFILE*>(handle_));
}

bool SmbDirectory::Next(FindData& entry, ErrorCode& error) {
  const SmbSession::Impl::Call call(*session_->impl_);
  struct stat st {};
  const libsmb_file_info* info = session_->impl_->Read(handle_, st, error);
  if (info == nullptr) return false;
  entry.name = info->name != nullptr ? info->name : "";
  entry.attributes = info->attrs != 0 ? info->attrs : attr::kNormal;
  return true;
}

#if defined(__SANITIZE_ADDRESS__)
// Leaks that are not ours: libsmbclient's log file name (a talloc block) per
// context, the entries of an opendir whose listing broke off (the server
// went away half-way), glibc's copy of LOCPATH in newlocale.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libtalloc.so\n"
         "leak:libsmbclient.so\n"
         "leak:__argz_add_sep\n";
}
// ... and without a note of them on standard error at exit.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

std::shared_ptr<SmbSession> Drives::Session(char letter) {
  const auto found = sessions_.find(letter);
  if (found == sessions_.end()) return nullptr;
  ConnectionRow row;
  RemoteName recorded;
  const RemoteName& live = found->second->name();
  if (Find(letter, row) != err::kSuccess || ParseRemoteName(row.remoteName, recorded) != err::kSuccess ||
      recorded.host != live.host || recorded.share != live.share || recorded.components != live.components) {
    sessions_.erase(found);
    return nullptr;
  }
  return found->second;
}

// Never destroyed: at exit the sessions are not logged off one by one (see
// README); their sockets close with the process.
Drives& UserDrives() {
  static Drives* drives = new Drives;
  return *drives;
}

void ResetSmbApiForTests(const char* library) {
  Loader& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.library = library != nullptr ? library : kSmbLibrary;
  state.tried = false;
  state.loaded = false;
}

}  // namespace posix
}  // namespace platform
