// Linux implementation of the files concern: a path that begins with a drive
// letter and a colon goes over the drive's SMB session, every other path to
// the Linux file system as it is (see README).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/log_buffer.h"
#include "platform/posix/drives.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/net_remote_name.h"

namespace platform {
namespace {

// The number of a local folder that cannot be opened.
ErrorCode FolderError(int error) { return error == ENOENT ? err::kPathNotFound : posix::ErrnoToWindows(error); }

// The entries of a local folder with their inode numbers and the
// attributes README gives them; a link shows as itself.
ErrorCode LocalEntries(const std::string& path, std::vector<FileIdEntry>& out) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
  if (!dir) return FolderError(errno);
  const int fd = ::dirfd(dir.get());
  for (;;) {
    errno = 0;
    const dirent* found = ::readdir(dir.get());
    if (found == nullptr) return errno == 0 ? err::kSuccess : posix::ErrnoToWindows(errno);
    FileIdEntry entry;
    entry.name = found->d_name;
    struct stat st {};
    std::uint32_t attributes = 0;  // none at all when it is gone since the listing was read
    if (::fstatat(fd, found->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      entry.fileId = static_cast<std::uint64_t>(st.st_ino);
      if (S_ISLNK(st.st_mode)) {
        attributes = attr::kReparsePoint;
        if (::fstatat(fd, found->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode)) attributes |= attr::kDirectory;
      } else {
        if (S_ISDIR(st.st_mode)) attributes |= attr::kDirectory;
        if ((st.st_mode & S_IWUSR) == 0) attributes |= attr::kReadOnly;
      }
    }
    entry.attributes = attributes == 0 ? attr::kNormal : attributes;
    out.push_back(std::move(entry));
  }
}

// Writes to a descriptor it owns.
class DescriptorBuffer : public LogBuffer {
 public:
  explicit DescriptorBuffer(int fd) : fd_(fd) {}
  ~DescriptorBuffer() override {
    Drain();
    ::close(fd_);
  }

 protected:
  bool Write(const char* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t written = ::write(fd_, data, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      data += written;
      size -= static_cast<std::size_t>(written);
    }
    return true;
  }

 private:
  int fd_;
};

std::unique_ptr<std::streambuf> OpenLocalLogFile(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) return nullptr;
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  const uid_t me = ::geteuid();

  // The folder: no link, and the user's own. The file: no link, no waiting
  // on a FIFO or device, emptied only as a plain file of ours with no
  // second name.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return nullptr;
  struct stat st {};
  const int fd = ::fstat(dir, &st) == 0 && st.st_uid == me
                     ? ::openat(dir, path.c_str() + slash + 1,
                                O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666)
                     : -1;
  ::close(dir);
  if (fd < 0) return nullptr;
  std::unique_ptr<std::streambuf> buffer(new DescriptorBuffer(fd));  // it closes the file from here on
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != me || st.st_nlink != 1) return nullptr;
  if (::ftruncate(fd, 0) != 0) return nullptr;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;
  return buffer;
}

// The result of a local call that returned `rc`.
ErrorCode Local(int rc) { return rc == 0 ? err::kSuccess : posix::ErrnoToWindows(errno); }

class PosixFiles : public Files {
 public:
  explicit PosixFiles(posix::Drives& drives) : drives_(drives) {}

  ErrorCode Access(const std::string& path, int mode) override {
    if (posix::IsDrivePath(path)) return OnDrive(path, false, &posix::SmbSession::Exists);
    // Mode 0: an entry of that name, whatever its kind (a dangling link too).
    struct stat st {};
    return Local(mode == 0 ? ::lstat(path.c_str(), &st) : ::access(path.c_str(), mode));
  }

  ErrorCode MakeDirectory(const std::string& path) override {
    if (!posix::IsDrivePath(path)) return Local(::mkdir(path.c_str(), 0777));
    return OnDrive(path, true, &posix::SmbSession::MakeDirectory);
  }

  ErrorCode SetAttributes(const std::string& path, std::uint32_t attributes) override {
    if (posix::IsDrivePath(path)) return OnDrive(path, false, &posix::SmbSession::SetAttributes, attributes);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return Local(-1);
    // A link has no permissions of its own; changing them would change the
    // target.
    if (S_ISLNK(st.st_mode)) return err::kSuccess;
    mode_t mode = st.st_mode & 07777;
    if ((attributes & attr::kReadOnly) != 0) {
      mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
      mode |= S_IWUSR;
    }
    return mode == (st.st_mode & 07777) ? err::kSuccess : Local(::chmod(path.c_str(), mode));
  }

  ErrorCode RemoveFile(const std::string& path) override {
    if (!posix::IsDrivePath(path)) return Local(::unlink(path.c_str()));
    return OnDrive(path, true, &posix::SmbSession::RemoveFile);
  }

  ErrorCode RemoveDir(const std::string& path) override {
    if (posix::IsDrivePath(path)) return OnDrive(path, true, &posix::SmbSession::RemoveDirectory);
    // A link to a folder goes as a link; what it points at stays.
    struct stat st {};
    const bool link = ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    return Local(link ? ::unlink(path.c_str()) : ::rmdir(path.c_str()));
  }

  // A session carries several calls at once (local paths any number).
  unsigned Overlap() override { return posix::SmbSession::kMostCalls; }

  std::unique_ptr<std::streambuf> OpenLogFile(const std::string& path) override {
    return OpenLocalLogFile(path);
  }

  ErrorCode ListFileIds(const std::string& dir, std::vector<FileIdEntry>& entries) override {
    entries.clear();
    ErrorCode code = err::kSuccess;
    if (!posix::IsDrivePath(dir)) {
      code = LocalEntries(dir, entries);
    } else {
      std::shared_ptr<posix::SmbSession> session;
      posix::SmbSession::Path below;
      code = Resolve(dir, session, below);
      if (code == err::kSuccess) code = session->List(below, entries);
    }
    if (code != err::kSuccess) entries.clear();
    return code;
  }

 private:
  // A drive path resolved to its session and the folders below the
  // connection's root: 0; kPathNotFound when the drive is not connected (or
  // not by this process); kInvalidName for a malformed path.
  ErrorCode Resolve(const std::string& path, std::shared_ptr<posix::SmbSession>& session,
                    posix::SmbSession::Path& below) {
    char letter = 0;
    ErrorCode code = err::kSuccess;
    if (!posix::ParseDrivePath(path, letter, below, code)) {
      return code != err::kSuccess ? code : err::kPathNotFound;
    }
    session = drives_.Session(letter);
    return session ? err::kSuccess : err::kPathNotFound;
  }

  // `op` on the drive path's session; kAccessDenied for the drive's root
  // itself when `notRoot`.
  template <typename Op, typename... Args>
  ErrorCode OnDrive(const std::string& path, bool notRoot, Op op, Args&&... args) {
    std::shared_ptr<posix::SmbSession> session;
    posix::SmbSession::Path below;
    ErrorCode code = Resolve(path, session, below);
    if (code == err::kSuccess && notRoot && below.empty()) code = err::kAccessDenied;
    return code == err::kSuccess ? ((*session).*op)(below, std::forward<Args>(args)...) : code;
  }

  posix::Drives& drives_;
};

}  // namespace

Files& RealFiles() {
  static PosixFiles instance(posix::UserDrives());
  return instance;
}

}  // namespace platform
