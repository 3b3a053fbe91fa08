#include "platform/posix/private_files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "platform/posix/errno_map.h"

namespace platform {
namespace posix {
namespace {

std::string Octal(mode_t mode) {
  std::ostringstream out;
  out << '0' << std::oct << (mode & 07777);
  return out.str();
}

// mkdir -p, or a new empty file never made through a link; 0 or errno. A
// umask of 077 gives new entries exactly these modes; the program runs on
// one thread, so nothing else creates files meanwhile.
int Make(const std::string& path, bool folder) {
  const mode_t saved = ::umask(077);
  const int fd = folder ? -1 : ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  int error = folder || fd >= 0 ? 0 : errno;
  if (fd >= 0) ::close(fd);
  for (std::size_t slash = path.find('/', 1); folder && error == 0; slash = path.find('/', slash + 1)) {
    if (::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) error = errno;
    if (slash == std::string::npos) break;
  }
  ::umask(saved);
  return error;
}

// Makes an entry of the user's private again (0700 for a folder, 0600 for
// a file), never through a link that took its place. False, with errno
// set, when that failed.
bool MakePrivate(const std::string& path, struct stat& st, const log4cxx::LoggerPtr& logger) {
  const mode_t wanted = S_ISDIR(st.st_mode) ? S_IRWXU : S_IRUSR | S_IWUSR;
  if ((st.st_mode & 07777) == wanted) return true;
  const mode_t before = st.st_mode;
  if (::fchmodat(AT_FDCWD, path.c_str(), wanted, AT_SYMLINK_NOFOLLOW) != 0 || ::lstat(path.c_str(), &st) != 0) {
    return false;
  }
  LOG4CXX_WARN(logger, path << " had mode " << Octal(before) << "; now mode " << Octal(st.st_mode));
  return true;
}

// An absolute path from the environment; "" for none.
std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : "";
}

std::string WithoutTrailingSlashes(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

ErrorCode Prepare(const std::string& path, bool folder, bool create, bool& absent, std::string& why,
                  const log4cxx::LoggerPtr& logger) {
  auto failed = [&why](const std::string& what, int error = errno) {
    why = what + ": " + std::strerror(error);
    return ErrnoToWindows(error);
  };
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return failed(path);
    absent = !create;
    if (absent) return err::kSuccess;
    const int error = Make(path, folder);
    if (error != 0 && error != EEXIST) return failed("cannot create " + path, error);
    if (::lstat(path.c_str(), &st) != 0) return failed(path);
  }
  const uid_t me = ::geteuid();
  if (S_ISLNK(st.st_mode)) {
    why = path + " is a symbolic link";
  } else if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
    why = path + (folder ? " is not a folder" : " is not a regular file");
  } else if (st.st_uid != me) {
    why = path + " belongs to uid " + std::to_string(st.st_uid) + ", not to uid " + std::to_string(me);
  } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    // Whoever could write there may have left anything beside the file.
    why = path + " can be written by group or others (mode " + Octal(st.st_mode) + ")";
  } else if (!MakePrivate(path, st, logger)) {
    return failed("cannot make " + path + " private");
  } else {
    return err::kSuccess;
  }
  return err::kAccessDenied;
}

}  // namespace

std::string PrivateFolderPath(PrivateFolder kind) {
  const uid_t me = ::geteuid();
  struct stat st {};
  if (kind == PrivateFolder::kRuntime) {
    const std::string runtime = AbsoluteVariable("XDG_RUNTIME_DIR");
    if (!runtime.empty() && ::stat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == me) {
      return WithoutTrailingSlashes(runtime) + "/sharemapper";
    }
    const std::string tmp = AbsoluteVariable("TMPDIR");
    return WithoutTrailingSlashes(tmp.empty() ? "/tmp" : tmp) + "/sharemapper-" + std::to_string(me);
  }
  std::string config = AbsoluteVariable("XDG_CONFIG_HOME");
  const std::string home = AbsoluteVariable("HOME");
  if (config.empty() && !home.empty()) config = home + "/.config";
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (config.empty() && ::getpwuid_r(me, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    config = std::string(found->pw_dir) + "/.config";
  }
  return config.empty() ? config : WithoutTrailingSlashes(config) + "/sharemapper";
}

ErrorCode PreparePrivateFile(const std::string& file, bool create, bool& absent, std::string& why,
                             const log4cxx::LoggerPtr& logger) {
  absent = false;
  ErrorCode code = Prepare(file.substr(0, file.rfind('/')), true, create, absent, why, logger);
  if (code == err::kSuccess && !absent) code = Prepare(file, false, create, absent, why, logger);
  if (code != err::kSuccess || absent) return code;
  // SQLite gives a new companion the file's mode, but keeps an old one's.
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    struct stat st {};
    const std::string companion = file + suffix;
    if (::lstat(companion.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
      MakePrivate(companion, st, logger);
    }
  }
  return err::kSuccess;
}

}  // namespace posix
}  // namespace platform
