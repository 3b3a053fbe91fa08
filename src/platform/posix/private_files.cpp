#include "platform/posix/private_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace platform {
namespace posix {
namespace {

// Sets the umask for one creation: with 077 a new entry gets exactly the
// mode it is created with (0700, 0600), whatever the caller's umask was.
// The program runs on one thread, so nothing else creates files meanwhile.
class PrivateUmask {
 public:
  PrivateUmask() : saved_(::umask(077)) {}
  ~PrivateUmask() { ::umask(saved_); }
  PrivateUmask(const PrivateUmask&) = delete;
  PrivateUmask& operator=(const PrivateUmask&) = delete;

 private:
  mode_t saved_;
};

std::string Octal(mode_t mode) {
  std::ostringstream out;
  out << '0' << std::oct << (mode & 07777);
  return out.str();
}

}  // namespace

int MakePrivateFolder(const std::string& path) {
  const PrivateUmask mask;
  return ::mkdir(path.c_str(), kPrivateFolderMode) == 0 ? 0 : errno;
}

int CreatePrivateFile(const std::string& path) {
  const PrivateUmask mask;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateFileMode);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

bool RestoreOwnerRights(const std::string& path, struct stat& st, const log4cxx::LoggerPtr& logger) {
  if (st.st_uid != ::geteuid()) return true;
  mode_t needed = 0;
  if (S_ISDIR(st.st_mode)) {
    needed = S_IRWXU;
  } else if (S_ISREG(st.st_mode)) {
    needed = S_IRUSR | S_IWUSR;
  } else {
    return true;  // a link or anything else: not ours to repair
  }
  if ((st.st_mode & needed) == needed) return true;
  const mode_t mode = (st.st_mode & 07777) | needed;
  // Never through a link that took the entry's place since it was looked at.
  if (::fchmodat(AT_FDCWD, path.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0) return false;
  struct stat now {};
  if (::lstat(path.c_str(), &now) != 0) return false;
  LOG4CXX_WARN(logger, path << " lacked its owner's rights (mode " << Octal(st.st_mode) << "); now mode "
                             << Octal(now.st_mode));
  st = now;
  return true;
}

void RestoreCompanionRights(const std::string& file, const log4cxx::LoggerPtr& logger) {
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    const std::string companion = file + suffix;
    struct stat st {};
    // Best effort: a companion SQLite cannot open shows in its own result.
    if (::lstat(companion.c_str(), &st) == 0) RestoreOwnerRights(companion, st, logger);
  }
}

}  // namespace posix
}  // namespace platform
