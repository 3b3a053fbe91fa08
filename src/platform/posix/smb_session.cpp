#include "platform/posix/smb_session.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <libsmbclient.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "platform/posix/errno_map.h"
#include "platform/posix/library_output.h"

namespace platform {
namespace posix {
namespace {

log4cxx::LoggerPtr SmbLogger() {
  static log4cxx::LoggerPtr logger = VkSharemapper::diag::GetLogger("Sharemapper.Smb");
  return logger;
}

// Every libsmbclient function the SMB layer calls. The library is opened at
// the first session and never unloaded (see README); its header is compiled
// against, so every pointer has the type the installed library declares.
#define SM_SMB_FUNCTIONS(X)                                                                     \
  X(smbc_new_context) X(smbc_free_context) X(smbc_init_context) X(smbc_setDebug)               \
  X(smbc_setLogCallback) X(smbc_setOptionDebugToStderr) X(smbc_setOptionUserData)              \
  X(smbc_getOptionUserData) X(smbc_setFunctionAuthDataWithContext) X(smbc_setFunctionCheckServer) \
  X(smbc_setOptionNoAutoAnonymousLogin) X(smbc_setOptionUseKerberos)                           \
  X(smbc_setOptionFallbackAfterKerberos) X(smbc_setOptionUseCCache) X(smbc_setOptionUseNTHash) \
  X(smbc_setTimeout) X(smbc_setPort) X(smbc_getFunctionOpendir) X(smbc_getFunctionClosedir)    \
  X(smbc_getFunctionReaddirPlus2) X(smbc_getFunctionStat) X(smbc_getFunctionChmod)             \
  X(smbc_getFunctionSetxattr) X(smbc_getFunctionMkdir) X(smbc_getFunctionUnlink)               \
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
  std::optional<bool> loaded;  // whether the load succeeded, once tried
  SmbApi api;                  // only a complete load fills it; sessions keep pointing here
};

Loader& State() {
  static Loader state;
  return state;
}

// The functions, the library loaded on the first call; null (the cause
// logged once) when it cannot be loaded or lacks one of them.
const SmbApi* LoadSmbApi() {
  Loader& state = State();
  const std::lock_guard<std::mutex> lock(state.mutex);
  if (state.loaded) return *state.loaded ? &state.api : nullptr;
  void* handle = ::dlopen(state.library.c_str(), kOpenFlags);
  const char* error = handle == nullptr ? ::dlerror() : nullptr;
  std::string why = handle == nullptr ? "cannot load " + state.library + ": " + (error ? error : "unknown reason") : "";
  SmbApi api;
#define SM_SMB_RESOLVE(name)                                                                \
  api.name = why.empty() ? reinterpret_cast<decltype(api.name)>(::dlsym(handle, #name)) : nullptr; \
  if (why.empty() && api.name == nullptr) why = state.library + " has no function " #name;
  SM_SMB_FUNCTIONS(SM_SMB_RESOLVE)
#undef SM_SMB_RESOLVE
  state.loaded = why.empty();
  if (why.empty()) {
    state.api = api;
    LOG4CXX_DEBUG(SmbLogger(), "loaded " << state.library);
    return &state.api;
  }
  LOG4CXX_ERROR(SmbLogger(), why << "; SMB connections are not available (Windows error " << err::kNoNetwork << ")");
  if (handle != nullptr) ::dlclose(handle);
  return nullptr;
}

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kSmbPort = 445;  // never NetBIOS's 139
constexpr int kConnectTimeoutMs = 4000;  // the whole TCP connection attempt
constexpr int kRequestTimeoutMs = 5000;  // one call of an established session
constexpr std::size_t kMaxCredentialLength = 255;  // the library's buffers

constexpr std::uint32_t kSettableAttributes = attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kArchive;

// The library's diagnostics go to our logger, never to standard output.
void DebugToLogger(void*, int level, const char* message) {
  LOG4CXX_TRACE(SmbLogger(), "libsmbclient[" << level << "]: " << (message ? message : ""));
}

// No echo before each call (see README): the call's own request times out.
int ConnectionIsSound(SMBCCTX*, SMBCSRV*) { return 0; }

void CopyField(char* to, int size, const std::string& from) {
  if (to == nullptr || size <= 0) return;
  const std::size_t n = std::min(from.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

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

 private:
  void WatchCalls() {
    const auto limit = std::chrono::milliseconds(kRequestTimeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!ending_) {
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

class LibSmbSession final : public SmbSession {
 public:
  LibSmbSession(const SmbApi& api, const RemoteName& name, std::string server, const Account& account,
                const std::string& password)
      : SmbSession(name), api_(api), server_(std::move(server)), domain_(account.domain), user_(account.user),
        password_(password) {}

  ~LibSmbSession() override {
    if (context_ != nullptr) {
      const LibraryOutput quiet(SmbLogger(), capture_);
      api_.smbc_free_context(context_, 1);
    }
    if (capture_ >= 0) ::close(capture_);
    for (std::string* secret : {&domain_, &user_, &password_}) {
      if (!secret->empty()) explicit_bzero(&(*secret)[0], secret->size());
    }
  }

  // Makes the library's context and opens the share and its folders: 0 or
  // a Windows number.
  ErrorCode Open() {
    const std::vector<int> before = SmbSocketsTo(server_);
    if (!Create()) return err::kNotEnoughMemory;
    const int error = Probe(BuildSmbUrl(server_, name().share, name().components));
    if (error != 0) {
      LOG4CXX_DEBUG(SmbLogger(), "cannot open \\\\" << name().host << "\\" << name().share << ": "
                                                      << std::strerror(error));
      if (!IsAuthError(error)) return ErrnoToWindows(error, ErrnoTable::kSmbConnect);
      // A refused logon and a refused share look alike; IPC$ admits every
      // account that logs on, so a refusal there means the logon failed.
      return IsAuthError(Probe(BuildSmbUrl(server_, "IPC$", {}))) ? err::kLogonFailure : err::kAccessDenied;
    }
    // The connection the library made for this session.
    deadline_.Watch(SmbSocketsTo(server_, before));
    return err::kSuccess;
  }

  ErrorCode Exists(const Path& path) override {
    return Call(path, [&](const char* url) {
      struct stat st {};
      return Check(Do(api_.smbc_getFunctionStat, url, &st) == 0);
    });
  }

  ErrorCode List(const Path& path, std::vector<FileIdEntry>& out) override {
    out.clear();
    listed_ = path;
    listedFiles_.clear();
    // One call: the library reads the whole listing at the opendir, and the
    // entries come from memory.
    return Call(path, [&](const char* url) {
      SMBCFILE* dir = Do(api_.smbc_getFunctionOpendir, url);
      // A folder that is not there: the path, not a file, is missing.
      if (dir == nullptr) return Check(false, ENOENT, err::kPathNotFound);
      struct stat st {};
      while (const libsmb_file_info* info = Do(api_.smbc_getFunctionReaddirPlus2, dir, &st)) {
        // The inode number is the server's file id.
        out.push_back({info->attrs != 0 ? info->attrs : attr::kNormal, 0, static_cast<std::uint64_t>(st.st_ino),
                       info->name != nullptr ? info->name : ""});
        if ((out.back().attributes & attr::kDirectory) == 0) listedFiles_.insert(out.back().name);
      }
      const ErrorCode code = Check(errno == 0);
      api_.smbc_getFunctionClosedir(context_)(context_, dir);
      if (code != err::kSuccess) out.clear();
      return code;
    });
  }

  ErrorCode SetAttributes(const Path& path, std::uint32_t attributes) override {
    return Call(path, [&](const char* url) {
      bool folder = false;
      if (!IsListedFile(path) && !Stat(url, folder)) return Check(false);
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
    });
  }

  ErrorCode MakeDirectory(const Path& path) override {
    // A missing parent folder: the path is not there.
    return Call(path, [&](const char* url) {
      return Check(Do(api_.smbc_getFunctionMkdir, url, mode_t{0755}) == 0, ENOENT, err::kPathNotFound);
    });
  }

  ErrorCode RemoveFile(const Path& path) override {
    // The library's unlink removes an empty folder (and "removes" a full
    // one): DeleteFileA refuses folders, so this looks first, unless the
    // folder's last listing showed a file by that name.
    return Call(path, [&](const char* url) {
      bool folder = false;
      if (!IsListedFile(path) && !Stat(url, folder)) return Check(false);
      if (folder) return err::kAccessDenied;
      // The server's "cannot delete" (a read-only file) arrives as EINVAL.
      return Check(Do(api_.smbc_getFunctionUnlink, url) == 0, EINVAL, err::kAccessDenied);
    });
  }

  ErrorCode RemoveDirectory(const Path& path) override {
    return Call(path, [&](const char* url) {
      return Check(Do(api_.smbc_getFunctionRmdir, url) == 0, EINVAL, err::kAccessDenied);
    });
  }

 private:
  bool Create() {
    context_ = api_.smbc_new_context();
    if (context_ == nullptr) return false;
    api_.smbc_setDebug(context_, 0);
    api_.smbc_setLogCallback(context_, nullptr, DebugToLogger);
    api_.smbc_setOptionDebugToStderr(context_, 1);
    api_.smbc_setOptionUserData(context_, this);
    api_.smbc_setFunctionAuthDataWithContext(context_, &LibSmbSession::Authenticate);
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
    auto* self = static_cast<LibSmbSession*>(State().api.smbc_getOptionUserData(context));
    const bool ours = self != nullptr && server != nullptr && self->server_ == server;
    CopyField(workgroup, workgroupSize, ours ? self->domain_ : std::string());
    CopyField(user, userSize, ours ? self->user_ : std::string());
    CopyField(password, passwordSize, ours ? self->password_ : std::string());
  }

  // Opens and closes a folder: 0 or the errno of the failure.
  int Probe(const std::string& url) {
    SMBCFILE* dir = Do(api_.smbc_getFunctionOpendir, url.c_str());
    if (dir == nullptr) return errno != 0 ? errno : EIO;
    api_.smbc_getFunctionClosedir(context_)(context_, dir);
    return 0;
  }

  // Runs `body` as one call: the library's output kept off the program's
  // streams, and the call within its deadline while the session lasts.
  template <typename Body>
  auto Within(Body body) {
    const LibraryOutput quiet(SmbLogger(), capture_);
    started_ = Clock::now();
    if (!broken_) deadline_.Start();
    const auto result = body();
    deadline_.Stop();
    return result;
  }

  // One call on the URL of `path`; 64 at once when the session is over.
  template <typename Body>
  ErrorCode Call(const Path& path, Body body) {
    Path all = name().components;
    all.insert(all.end(), path.begin(), path.end());
    const std::string url = BuildSmbUrl(server_, name().share, all);
    return broken_ ? err::kNetNameDeleted : Within([&] { return body(url.c_str()); });
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
  // (121) or a broken connection (64), which end the session, when it got no
  // answer: one that took the request timeout counts, whatever errno the
  // library reports.
  ErrorCode Failure(int error, int refusal = 0, ErrorCode answer = err::kSuccess) {
    const bool unanswered = IsNetworkFailure(error) || deadline_.Passed() ||
                            Clock::now() - started_ >= std::chrono::milliseconds(kRequestTimeoutMs);
    if (!unanswered && refusal != 0 && error == refusal) return answer;
    if (!unanswered) return ErrnoToWindows(error, ErrnoTable::kSmbCall);
    const bool timedOut = deadline_.Passed() || !IsNetworkFailure(error) || error == ETIMEDOUT;
    if (!broken_) {
      LOG4CXX_DEBUG(SmbLogger(), "the server at " << server_ << " stopped answering: "
                                                  << std::strerror(timedOut ? ETIMEDOUT : error));
    }
    broken_ = true;
    return timedOut ? err::kSemTimeout : err::kNetNameDeleted;
  }

  // Whether the last listing showed a file at `path` (by the same name).
  bool IsListedFile(const Path& path) const {
    return !path.empty() && std::equal(listed_.begin(), listed_.end(), path.begin(), path.end() - 1) &&
           listedFiles_.count(path.back()) != 0;
  }

  // Looks up whether `url` is a folder: false (errno set) when it cannot.
  bool Stat(const char* url, bool& folder) {
    struct stat st {};
    if (Do(api_.smbc_getFunctionStat, url, &st) != 0) return false;
    folder = S_ISDIR(st.st_mode);
    return true;
  }

  const SmbApi& api_;
  SMBCCTX* context_ = nullptr;
  const std::string server_;  // the numeric address given to libsmbclient
  std::string domain_;
  std::string user_;
  std::string password_;
  bool broken_ = false;       // the server stopped answering or the connection broke
  Clock::time_point started_;  // of the call under way
  CallDeadline deadline_;
  int capture_ = OpenLibraryCapture();  // for what the library prints during a call
  Path listed_;                          // the folder listed last
  std::set<std::string> listedFiles_;    // the files that listing showed
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
  auto session = std::make_shared<LibSmbSession>(*api, name, server, account, password);
  code = session->Open();
  if (code == err::kSuccess) out = std::move(session);
  return code;
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

void ResetSmbApiForTests(const char* library) {
  Loader& state = State();
  const std::lock_guard<std::mutex> lock(state.mutex);
  state.library = library != nullptr ? library : kSmbLibrary;
  state.loaded.reset();
}

}  // namespace posix
}  // namespace platform
