#include "platform/posix/smb_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
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
#include <cstring>
#include <map>

#include "platform/posix/call_deadline.h"
#include "platform/posix/layer_log.h"
#include "platform/posix/library_output.h"
#include "platform/posix/smb_api.h"

namespace platform {
namespace posix {
namespace {

// SMB over TCP; the NetBIOS session port 139 is not used.
constexpr std::uint16_t kSmbPort = 445;
// How long the whole TCP connection attempt to a host may take.
constexpr int kConnectTimeoutMs = 4000;
// How long libsmbclient waits for any one answer of an established session.
constexpr int kRequestTimeoutMs = 5000;
// libsmbclient hands the authentication callback buffers of this size.
constexpr std::size_t kMaxCredentialLength = 255;

constexpr std::uint32_t kSettableAttributes =
    attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kArchive;

log4cxx::LoggerPtr Logger() {
  static log4cxx::LoggerPtr logger = LayerLogger("Sharemapper.Smb");
  return logger;
}

// libsmbclient's own diagnostics would go to standard output, where the
// program writes its result; they go to the trace level of our logger.
void DebugToLogger(void*, int level, const char* message) {
  log4cxx::LoggerPtr logger = Logger();
  if (logger->isTraceEnabled()) {
    LOG4CXX_TRACE(logger, "libsmbclient[" << level << "]: " << (message ? message : ""));
  }
}

// libsmbclient checks a cached connection before each call by sending an
// echo and, when that gets no answer, connects anew: against a server that
// stopped answering, one call would wait for the echo, for the new
// connection and for its own request. The connection is taken as sound
// instead; the call's own request times out, and that ends the session.
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

// Connects to address:445 within the remaining time. 0 or an errno value.
int ProbePort(const sockaddr_in& address, std::chrono::steady_clock::time_point deadline) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  int result = 0;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    result = errno;
    if (result == EINPROGRESS) {
      for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
          result = ETIMEDOUT;
          break;
        }
        pollfd wait{fd, POLLOUT, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
          result = ready == 0 ? ETIMEDOUT : errno;
          break;
        }
        int soError = 0;
        socklen_t length = sizeof soError;
        result = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) == 0 ? soError : errno;
        break;
      }
    }
  }
  ::close(fd);
  return result;
}

// The IPv4 address of `host` on which port 445 answers. libsmbclient is then
// given that address, so it neither resolves names itself (its resolver may
// broadcast on the local network) nor connects anywhere else.
ErrorCode Reach(const std::string& host, std::string& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    LOG4CXX_DEBUG(Logger(), "cannot resolve " << host);
    return err::kBadNetPath;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
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
      LOG4CXX_DEBUG(Logger(), "no SMB service at " << host << ": " << std::strerror(result));
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  ::freeaddrinfo(found);
  return code;
}

bool IsAuthError(int error) { return error == EACCES || error == EPERM; }

// An errno of a file operation that says the server did not answer in time
// or the connection to it is gone.
bool IsNetworkFailure(int error) {
  switch (error) {
    case ETIMEDOUT:
    case ECONNRESET:
    case ECONNABORTED:
    case ECONNREFUSED:
    case EPIPE:
    case ENOTCONN:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
    case ENETDOWN:
    case ENETRESET:
      return true;
    default:
      return false;
  }
}

// The connection attempt's errno, once the host answered on its port:
//   EACCES, EPERM                          decided by the caller (1326 or 5)
//   ENOENT, ENODEV, ENOTDIR, ENXIO         no such share or folder: 67
//   ECONNREFUSED, EHOSTUNREACH,
//   ENETUNREACH, ETIMEDOUT, EHOSTDOWN      the host stopped answering: 53
//   ENOMEM                                 8
//   anything else                          59
ErrorCode ConnectErrorToWindows(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENOTDIR:
    case ENXIO:
      return err::kBadNetName;
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
    case EHOSTDOWN:
      return err::kBadNetPath;
    case ENOMEM:
      return err::kNotEnoughMemory;
    default:
      return err::kUnexpectedNetworkError;
  }
}

// The libsmbclient functions, once a session has loaded them; every context
// was made with them.
const SmbApi* g_api = nullptr;

// Never destroyed: at exit the process does not log its sessions off and
// wait for the server's answers (DetachAllSessions does, while it lives).
// Closing their sockets ends them on the server just the same, as when a
// process is killed.
std::map<char, std::shared_ptr<SmbSession>>& Sessions() {
  static auto* sessions = new std::map<char, std::shared_ptr<SmbSession>>;
  return *sessions;
}

}  // namespace

ErrorCode SmbFileErrorToWindows(int error) {
  switch (error) {
    case 0: return err::kSuccess;
    case ENOENT: return err::kFileNotFound;
    case ENOTDIR: return err::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return err::kAccessDenied;
    case EEXIST: return err::kAlreadyExists;
    case ENOTEMPTY: return err::kDirNotEmpty;
    case EBUSY: return err::kSharingViolation;
    case ENOMEM: return err::kNotEnoughMemory;
    case ENOSPC: return err::kDiskFull;
    case ENAMETOOLONG: return err::kFilenameExcedRange;
    case EBADF: return err::kInvalidHandle;
    default: return err::kUnexpectedNetworkError;
  }
}

struct SmbSession::Impl {
  explicit Impl(const SmbApi& functions) : api(functions) {}

  const SmbApi& api;
  SMBCCTX* context = nullptr;
  std::string server;  // the numeric address given to libsmbclient
  std::string domain;
  std::string user;
  std::string password;
  // Set once the server stopped answering or the connection broke.
  bool broken = false;
  // When the operation under way began (see Begin).
  std::chrono::steady_clock::time_point started;
  // No call waits longer than one request timeout, however many requests
  // it makes.
  CallDeadline deadline{std::chrono::milliseconds(kRequestTimeoutMs)};

  ~Impl() {
    if (context != nullptr) {
      const LibraryOutput quiet(Logger());
      api.smbc_free_context(context, 1);
    }
    Wipe(domain);
    Wipe(user);
    Wipe(password);
  }

  // libsmbclient asks for credentials whenever it opens a session to a
  // server. Only the server of this connection gets them: a referral to any
  // other server is offered none and fails.
  static void Authenticate(SMBCCTX* context, const char* server, const char*, char* workgroup,
                           int workgroupSize, char* user, int userSize, char* password,
                           int passwordSize) {
    auto* self = static_cast<Impl*>(g_api->smbc_getOptionUserData(context));
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
    // Only the given account: no anonymous retry, no Kerberos, no ticket
    // cache, no stored hash.
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

  // The Windows number for the errno of a failed file operation. A server
  // that did not answer in time (ERROR_SEM_TIMEOUT) or a connection that
  // broke (ERROR_NETNAME_DELETED) ends the session: libsmbclient would
  // otherwise connect anew for every later call and wait out its timeout
  // each time. Every later operation fails at once with
  // ERROR_NETNAME_DELETED.
  ErrorCode FileError(int error) {
    if (!Unanswered(error)) return SmbFileErrorToWindows(error);
    const bool timedOut = deadline.Passed() || !IsNetworkFailure(error) || error == ETIMEDOUT;
    if (!broken) {
      LOG4CXX_DEBUG(Logger(), "the server at " << server << " stopped answering: "
                                                << (timedOut ? std::strerror(ETIMEDOUT) : std::strerror(error)));
    }
    broken = true;
    return timedOut ? err::kSemTimeout : err::kNetNameDeleted;
  }

  // Starts an operation; false when the session is already over.
  bool Begin() {
    started = std::chrono::steady_clock::now();
    if (broken) return false;
    deadline.Start();
    return true;
  }

  // One operation, from its Begin to the end of the scope, with the
  // library's output kept off the program's streams.
  class Call {
   public:
    explicit Call(Impl& impl) : impl_(impl), quiet_(Logger()), open_(impl.Begin()) {}
    ~Call() { impl_.deadline.Stop(); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    // False when the session was already over.
    bool open() const { return open_; }

   private:
    Impl& impl_;
    const LibraryOutput quiet_;
    const bool open_;
  };

  // Whether the operation begun last failed for want of an answer. A
  // request that times out does not always say so: libsmbclient may try
  // another way and report that one's errno (a refusal, a missing file).
  // A failure after as long as the request timeout is taken for one.
  bool Unanswered(int error) {
    return IsNetworkFailure(error) || deadline.Passed() ||
           std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(kRequestTimeoutMs);
  }

  // Opens and closes a folder: 0 or the errno of the failure.
  int Probe(const std::string& url) {
    errno = 0;
    SMBCFILE* dir = api.smbc_getFunctionOpendir(context)(context, url.c_str());
    if (dir == nullptr) return errno != 0 ? errno : EIO;
    api.smbc_getFunctionClosedir(context)(context, dir);
    return 0;
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
  // Everything the library prints while it sets up and connects.
  const LibraryOutput quiet(Logger());

  // The library comes first: without it nothing goes out on the network.
  const SmbApi* api = LoadSmbApi();
  if (api == nullptr) return kNoNetwork;
  g_api = api;

  auto impl = std::make_unique<Impl>(*api);
  ErrorCode code = Reach(name.host, impl->server);
  if (code != err::kSuccess) return code;

  impl->domain = account.domain;
  impl->user = account.user;
  impl->password = password;
  const std::vector<int> before = SocketsConnectedTo(impl->server, kSmbPort);
  if (!impl->Create()) return err::kNotEnoughMemory;

  const std::string url = BuildSmbUrl(impl->server, name.share, name.components);
  const int error = impl->Probe(url);
  if (error != 0) {
    LOG4CXX_DEBUG(Logger(), "cannot open \\\\" << name.host << "\\" << name.share << ": "
                                                << std::strerror(error));
    if (!IsAuthError(error)) return ConnectErrorToWindows(error);
    // libsmbclient reports a refused logon and a refused share alike. The
    // IPC$ share admits every account that logs on, so a second refusal
    // there means the logon itself failed.
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
  errno = 0;
  if (impl_->api.smbc_getFunctionStat(impl_->context)(impl_->context, url.c_str(), &st) == 0) return err::kSuccess;
  return impl_->FileError(errno != 0 ? errno : EIO);
}

ErrorCode SmbSession::OpenDirectory(const std::string& url, std::unique_ptr<SmbDirectory>& out) {
  out.reset();
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  errno = 0;
  SMBCFILE* dir = impl_->api.smbc_getFunctionOpendir(impl_->context)(impl_->context, url.c_str());
  if (dir == nullptr) {
    const int error = errno != 0 ? errno : EIO;
    // A folder that is not there: the path, not a file, is missing.
    return error == ENOENT && !impl_->Unanswered(error) ? err::kPathNotFound : impl_->FileError(error);
  }
  out.reset(new SmbDirectory(shared_from_this(), dir));
  return err::kSuccess;
}

ErrorCode SmbSession::SetAttributes(const std::string& url, std::uint32_t attributes) {
  const SmbApi& api = impl_->api;
  SMBCCTX* context = impl_->context;
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  struct stat st {};
  errno = 0;
  if (api.smbc_getFunctionStat(context)(context, url.c_str(), &st) != 0) {
    return impl_->FileError(errno != 0 ? errno : EIO);
  }
  const std::uint32_t wanted = attributes & kSettableAttributes;
  int rc;
  errno = 0;
  if (!S_ISDIR(st.st_mode) && wanted == 0) {
    // libsmbclient ignores a DOS mode of 0 ("leave as is"); a file mode with
    // write bits and no execute bits clears every attribute instead.
    rc = api.smbc_getFunctionChmod(context)(context, url.c_str(), 0644);
  } else {
    // A folder keeps its directory bit, which also makes the value non-zero.
    const std::uint32_t value = S_ISDIR(st.st_mode) ? (wanted | attr::kDirectory) : wanted;
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    rc = api.smbc_getFunctionSetxattr(context)(context, url.c_str(), "system.dos_attr.mode", text,
                                               std::strlen(text), 0);
  }
  if (rc == 0) return err::kSuccess;
  return impl_->FileError(errno != 0 ? errno : EIO);
}

ErrorCode SmbSession::MakeDirectory(const std::string& url) {
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  errno = 0;
  if (impl_->api.smbc_getFunctionMkdir(impl_->context)(impl_->context, url.c_str(), 0755) == 0) return err::kSuccess;
  const int error = errno != 0 ? errno : EIO;
  // A missing parent folder: the path is not there.
  return error == ENOENT && !impl_->Unanswered(error) ? err::kPathNotFound : impl_->FileError(error);
}

ErrorCode SmbSession::RemoveFile(const std::string& url) {
  // libsmbclient's unlink removes an empty folder, and on a folder with
  // entries reports success while removing nothing. DeleteFileA refuses
  // folders, so this looks first.
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  struct stat st {};
  errno = 0;
  if (impl_->api.smbc_getFunctionStat(impl_->context)(impl_->context, url.c_str(), &st) != 0) {
    return impl_->FileError(errno != 0 ? errno : EIO);
  }
  if (S_ISDIR(st.st_mode)) return err::kAccessDenied;
  errno = 0;
  if (impl_->api.smbc_getFunctionUnlink(impl_->context)(impl_->context, url.c_str()) == 0) return err::kSuccess;
  const int error = errno != 0 ? errno : EIO;
  // The server's "cannot delete" (a read-only file) arrives as EINVAL.
  return error == EINVAL && !impl_->Unanswered(error) ? err::kAccessDenied : impl_->FileError(error);
}

ErrorCode SmbSession::RemoveDirectory(const std::string& url) {
  const Impl::Call call(*impl_);
  if (!call.open()) return err::kNetNameDeleted;
  errno = 0;
  if (impl_->api.smbc_getFunctionRmdir(impl_->context)(impl_->context, url.c_str()) == 0) return err::kSuccess;
  const int error = errno != 0 ? errno : EIO;
  return error == EINVAL && !impl_->Unanswered(error) ? err::kAccessDenied : impl_->FileError(error);
}

ErrorCode SmbSession::ListFileIds(const std::string& url, std::vector<FileIdEntry>& entries) {
  const LibraryOutput quiet(Logger());
  entries.clear();
  std::unique_ptr<SmbDirectory> dir;
  const ErrorCode code = OpenDirectory(url, dir);
  if (code != err::kSuccess) return code;
  // libsmbclient reads the whole listing when it opens the folder; the
  // entries come from memory. Its inode number is the server's file id
  // (Samba's: the inode of what the entry leads to).
  SMBCCTX* context = impl_->context;
  for (;;) {
    struct stat st {};
    errno = 0;
    const libsmb_file_info* info =
        impl_->api.smbc_getFunctionReaddirPlus2(context)(context, static_cast<SMBCFILE*>(dir->handle_), &st);
    if (info == nullptr) {
      if (errno == 0) return err::kSuccess;
      return impl_->FileError(errno);
    }
    FileIdEntry entry;
    entry.name = info->name != nullptr ? info->name : "";
    entry.attributes = info->attrs != 0 ? info->attrs : attr::kNormal;
    entry.fileId = static_cast<std::uint64_t>(st.st_ino);
    entries.push_back(std::move(entry));
  }
}

SmbDirectory::SmbDirectory(std::shared_ptr<SmbSession> session, void* handle)
    : session_(std::move(session)), handle_(handle) {}

SmbDirectory::~SmbDirectory() {
  const LibraryOutput quiet(Logger());
  SMBCCTX* context = session_->impl_->context;
  session_->impl_->api.smbc_getFunctionClosedir(context)(context, static_cast<SMBCFILE*>(handle_));
}

bool SmbDirectory::Next(FindData& entry, ErrorCode& error) {
  // The entries come from memory: the listing was read when it was opened.
  const SmbSession::Impl::Call call(*session_->impl_);
  SMBCCTX* context = session_->impl_->context;
  struct stat st {};
  errno = 0;
  const libsmb_file_info* info =
      session_->impl_->api.smbc_getFunctionReaddirPlus2(context)(context, static_cast<SMBCFILE*>(handle_), &st);
  if (info == nullptr) {
    error = errno == 0 ? err::kSuccess : session_->impl_->FileError(errno);
    return false;
  }
  entry.name = info->name != nullptr ? info->name : "";
  entry.attributes = info->attrs;
  if (entry.attributes == 0) entry.attributes = attr::kNormal;
  error = err::kSuccess;
  return true;
}

#if defined(__SANITIZE_ADDRESS__)
// Leak checks of sanitizer builds: losses that are not ours and that we
// cannot avoid. libsmbclient 4.17 drops its log file name (116 bytes, a
// talloc block; the fast unwinder sees no further than libtalloc) for each
// context it creates; an opendir whose listing breaks off (the server went
// away half-way) drops the entries read so far, which no call of ours can
// reach; glibc's newlocale drops its copy of LOCPATH when that is set. This
// program allocates nothing with talloc or inside libsmbclient itself.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libtalloc.so\n"
         "leak:libsmbclient.so\n"
         "leak:__argz_add_sep\n";
}
// ... and without a note of them on standard error at exit.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

std::shared_ptr<SmbSession> SessionForDrive(char letter) {
  auto& sessions = Sessions();
  auto found = sessions.find(letter);
  return found == sessions.end() ? nullptr : found->second;
}

void AttachSession(char letter, std::shared_ptr<SmbSession> session) {
  Sessions()[letter] = std::move(session);
}

void DetachSession(char letter) { Sessions().erase(letter); }

void DetachAllSessions() { Sessions().clear(); }

}  // namespace posix
}  // namespace platform
