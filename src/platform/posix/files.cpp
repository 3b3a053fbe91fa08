// Linux implementation of the files concern.
//
// A path that begins with a drive letter and a colon ("E:", "E:\dir\file",
// "/" is a separator too) is on a mapped drive: it is resolved through the
// connection table to the share and reached over the SMB session that made
// the connection in this process. A process that did not make the connection
// holds no credentials for it, and its drive paths fail with
// ERROR_PATH_NOT_FOUND (3), as for a letter that is not mapped at all.
//
// Every other path goes to the Linux file system as it is (a backslash is an
// ordinary character there, except before the wildcard of a listing
// pattern). Attributes of local entries: directory, read-only when the owner
// may not write, reparse point for a symbolic link (plus directory when it
// leads to one); a link is never followed when it is removed or its
// attributes are changed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/connection_table.h"
#include "platform/posix/last_error.h"
#include "platform/posix/log_file.h"
#include "platform/posix/net_remote_name.h"
#include "platform/posix/smb_session.h"

namespace platform {
namespace {

// Windows wildcard matching of '*' and '?' (no character classes).
bool WildcardMatch(const std::string& pattern, const std::string& name, bool ignoreCase) {
  auto same = [ignoreCase](char a, char b) {
    if (!ignoreCase) return a == b;
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  std::size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// "*.*" means every entry, as on Windows (names without a dot included).
std::string NormalisePattern(const std::string& pattern) { return pattern == "*.*" ? "*" : pattern; }

// One open listing: yields the entries that match its pattern.
class Listing {
 public:
  explicit Listing(std::string pattern, bool ignoreCase)
      : pattern_(NormalisePattern(pattern)), ignoreCase_(ignoreCase) {}
  virtual ~Listing() = default;

  // The next matching entry; false at the end (error 0) or on a failure.
  bool NextMatch(FindData& data, ErrorCode& error) {
    for (;;) {
      if (!NextEntry(data, error)) return false;
      if (WildcardMatch(pattern_, data.name, ignoreCase_)) return true;
    }
  }

 protected:
  virtual bool NextEntry(FindData& data, ErrorCode& error) = 0;

 private:
  std::string pattern_;
  bool ignoreCase_;
};

std::uint32_t LocalAttributes(const struct stat& linkStat, const struct stat* targetStat) {
  std::uint32_t attributes = 0;
  if (S_ISLNK(linkStat.st_mode)) {
    attributes |= attr::kReparsePoint;
    if (targetStat != nullptr && S_ISDIR(targetStat->st_mode)) attributes |= attr::kDirectory;
  } else {
    if (S_ISDIR(linkStat.st_mode)) attributes |= attr::kDirectory;
    if ((linkStat.st_mode & S_IWUSR) == 0) attributes |= attr::kReadOnly;
  }
  return attributes == 0 ? attr::kNormal : attributes;
}

class LocalListing : public Listing {
 public:
  LocalListing(DIR* dir, std::string pattern) : Listing(std::move(pattern), false), dir_(dir) {}
  ~LocalListing() override { ::closedir(dir_); }

 protected:
  bool NextEntry(FindData& data, ErrorCode& error) override {
    errno = 0;
    const dirent* entry = ::readdir(dir_);
    if (entry == nullptr) {
      error = errno == 0 ? err::kSuccess : posix::ErrnoToWindows(errno);
      return false;
    }
    data.name = entry->d_name;
    struct stat linkStat {};
    struct stat targetStat {};
    const int fd = ::dirfd(dir_);
    if (::fstatat(fd, entry->d_name, &linkStat, AT_SYMLINK_NOFOLLOW) != 0) {
      data.attributes = attr::kNormal;  // gone since the listing was read
    } else {
      const bool target = S_ISLNK(linkStat.st_mode) && ::fstatat(fd, entry->d_name, &targetStat, 0) == 0;
      data.attributes = LocalAttributes(linkStat, target ? &targetStat : nullptr);
    }
    error = err::kSuccess;
    return true;
  }

 private:
  DIR* dir_;
};

// A local folder's entries with their inode numbers; a link shows as itself.
ErrorCode ListLocalFileIds(const std::string& dir, std::vector<FileIdEntry>& entries) {
  DIR* folder = ::opendir(dir.c_str());
  if (folder == nullptr) {
    const int error = errno;
    return error == ENOENT ? err::kPathNotFound : posix::ErrnoToWindows(error);
  }
  LocalListing listing(folder, "*");
  ErrorCode code = err::kSuccess;
  FindData data;
  while (listing.NextMatch(data, code)) {
    struct stat linkStat {};
    FileIdEntry entry;
    entry.name = data.name;
    entry.attributes = data.attributes;
    if (::fstatat(::dirfd(folder), data.name.c_str(), &linkStat, AT_SYMLINK_NOFOLLOW) == 0) {
      entry.fileId = static_cast<std::uint64_t>(linkStat.st_ino);
    }
    entries.push_back(std::move(entry));
  }
  return code;
}

class RemoteListing : public Listing {
 public:
  RemoteListing(std::unique_ptr<posix::SmbDirectory> dir, std::string pattern)
      : Listing(std::move(pattern), true), dir_(std::move(dir)) {}

 protected:
  bool NextEntry(FindData& data, ErrorCode& error) override { return dir_->Next(data, error); }

 private:
  std::unique_ptr<posix::SmbDirectory> dir_;
};

// A drive path resolved to its session and the components below the
// connection's root.
struct RemotePath {
  std::shared_ptr<posix::SmbSession> session;
  std::vector<std::string> components;
};

// 0 with `out` set; kPathNotFound when the drive is not connected (or not by
// this process); kInvalidName for a malformed path.
ErrorCode ResolveDrivePath(const std::string& path, bool pattern, RemotePath& out) {
  char letter = 0;
  ErrorCode code = err::kSuccess;
  if (!posix::ParseDrivePath(path, pattern, letter, out.components, code)) {
    return code != err::kSuccess ? code : err::kPathNotFound;
  }
  out.session = posix::SessionForDrive(letter);
  if (!out.session) return err::kPathNotFound;

  // The drive must still be connected to the share this session opened: a
  // connection cancelled (or replaced) by another process ends the session.
  posix::ConnectionRow row;
  posix::RemoteName recorded;
  const posix::RemoteName& live = out.session->name();
  if (posix::FindConnection(letter, row) != err::kSuccess ||
      posix::ParseRemoteName(row.remoteName, recorded) != err::kSuccess ||
      recorded.host != live.host || recorded.share != live.share ||
      recorded.components != live.components) {
    posix::DetachSession(letter);
    out.session.reset();
    return err::kPathNotFound;
  }
  return err::kSuccess;
}

bool Fail(ErrorCode code) {
  posix::SetLastError(code);
  return false;
}

bool FailErrno() {
  posix::SetLastErrorFromErrno(errno);
  return false;
}

class PosixFiles : public Files {
 public:
  int Access(const std::string& path, int mode) override {
    if (posix::IsDrivePath(path)) {
      RemotePath remote;
      ErrorCode code = ResolveDrivePath(path, false, remote);
      if (code == err::kSuccess) code = remote.session->Exists(remote.session->UrlFor(remote.components));
      posix::SetLastError(code);
      return code == err::kSuccess ? 0 : -1;
    }
    if (mode == 0) {
      // An entry of that name, whatever its kind (a dangling link too).
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0) return 0;
      posix::SetLastErrorFromErrno(errno);
      return -1;
    }
    if (::access(path.c_str(), mode) == 0) return 0;
    posix::SetLastErrorFromErrno(errno);
    return -1;
  }

  bool MakeDirectory(const std::string& path) override {
    if (posix::IsDrivePath(path)) {
      RemotePath remote;
      ErrorCode code = ResolveDrivePath(path, false, remote);
      if (code == err::kSuccess && remote.components.empty()) code = err::kAccessDenied;
      if (code == err::kSuccess) code = remote.session->MakeDirectory(remote.session->UrlFor(remote.components));
      return code == err::kSuccess ? true : Fail(code);
    }
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return FailErrno();
  }

  FindHandle FindFirst(const std::string& pattern, FindData& data) override {
    std::unique_ptr<Listing> listing;
    ErrorCode code = Open(pattern, listing);
    if (code != err::kSuccess) {
      posix::SetLastError(code);
      return kInvalidFind;
    }
    if (!listing->NextMatch(data, code)) {
      // Nothing matches: Windows reports the file as not found.
      posix::SetLastError(code == err::kSuccess ? err::kFileNotFound : code);
      return kInvalidFind;
    }
    const FindHandle handle = next_++;
    listings_[handle] = std::move(listing);
    return handle;
  }

  bool FindNext(FindHandle handle, FindData& data) override {
    auto found = listings_.find(handle);
    if (found == listings_.end()) return Fail(err::kInvalidHandle);
    ErrorCode code = err::kSuccess;
    if (found->second->NextMatch(data, code)) return true;
    return Fail(code == err::kSuccess ? err::kNoMoreFiles : code);
  }

  bool FindEnd(FindHandle handle) override {
    if (listings_.erase(handle) == 0) return Fail(err::kInvalidHandle);
    return true;
  }

  bool SetAttributes(const std::string& path, std::uint32_t attributes) override {
    if (posix::IsDrivePath(path)) {
      RemotePath remote;
      ErrorCode code = ResolveDrivePath(path, false, remote);
      if (code == err::kSuccess) {
        code = remote.session->SetAttributes(remote.session->UrlFor(remote.components), attributes);
      }
      return code == err::kSuccess ? true : Fail(code);
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return FailErrno();
    // A link has no permissions of its own; changing them would change the
    // target.
    if (S_ISLNK(st.st_mode)) return true;
    mode_t mode = st.st_mode & 07777;
    if ((attributes & attr::kReadOnly) != 0) {
      mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
      mode |= S_IWUSR;
    }
    if (mode == (st.st_mode & 07777)) return true;
    if (::chmod(path.c_str(), mode) == 0) return true;
    return FailErrno();
  }

  bool RemoveFile(const std::string& path) override {
    if (posix::IsDrivePath(path)) {
      RemotePath remote;
      ErrorCode code = ResolveDrivePath(path, false, remote);
      if (code == err::kSuccess && remote.components.empty()) code = err::kAccessDenied;
      if (code == err::kSuccess) code = remote.session->RemoveFile(remote.session->UrlFor(remote.components));
      return code == err::kSuccess ? true : Fail(code);
    }
    if (::unlink(path.c_str()) == 0) return true;
    return FailErrno();
  }

  bool RemoveDir(const std::string& path) override {
    if (posix::IsDrivePath(path)) {
      RemotePath remote;
      ErrorCode code = ResolveDrivePath(path, false, remote);
      if (code == err::kSuccess && remote.components.empty()) code = err::kAccessDenied;
      if (code == err::kSuccess) {
        code = remote.session->RemoveDirectory(remote.session->UrlFor(remote.components));
      }
      return code == err::kSuccess ? true : Fail(code);
    }
    // A link to a folder goes as a link; what it points at stays.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      if (::unlink(path.c_str()) == 0) return true;
      return FailErrno();
    }
    if (::rmdir(path.c_str()) == 0) return true;
    return FailErrno();
  }

  std::unique_ptr<std::streambuf> OpenLogFile(const std::string& path) override {
    return posix::OpenLogFile(path);
  }

  ErrorCode ListFileIds(const std::string& dir, std::vector<FileIdEntry>& entries) override {
    entries.clear();
    ErrorCode code = err::kSuccess;
    if (posix::IsDrivePath(dir)) {
      RemotePath remote;
      code = ResolveDrivePath(dir, false, remote);
      if (code == err::kSuccess) code = remote.session->ListFileIds(remote.session->UrlFor(remote.components), entries);
    } else {
      code = ListLocalFileIds(dir, entries);
    }
    posix::SetLastError(code);
    return code;
  }

  ErrorCode LastError() override { return posix::GetLastError(); }

 private:
  // Splits a pattern at its last separator into the folder and the name
  // pattern, and opens the folder.
  ErrorCode Open(const std::string& pattern, std::unique_ptr<Listing>& out) {
    if (posix::IsDrivePath(pattern)) {
      RemotePath remote;
      ErrorCode code = ResolveDrivePath(pattern, true, remote);
      if (code != err::kSuccess) return code;
      // "E:" or "E:\" name no entry to look for.
      if (remote.components.empty()) return err::kFileNotFound;
      const std::string name = remote.components.back();
      remote.components.pop_back();
      std::unique_ptr<posix::SmbDirectory> dir;
      code = remote.session->OpenDirectory(remote.session->UrlFor(remote.components), dir);
      if (code != err::kSuccess) return code;
      out.reset(new RemoteListing(std::move(dir), name));
      return err::kSuccess;
    }

    const std::size_t cut = pattern.find_last_of("/\\");
    std::string folder = cut == std::string::npos ? "." : pattern.substr(0, cut);
    const std::string name = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    if (folder.empty()) folder = "/";
    if (name.empty()) return err::kFileNotFound;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
      const int error = errno;
      return error == ENOENT ? err::kPathNotFound : posix::ErrnoToWindows(error);
    }
    out.reset(new LocalListing(dir, name));
    return err::kSuccess;
  }

  std::map<FindHandle, std::unique_ptr<Listing>> listings_;
  FindHandle next_ = 1;
};

}  // namespace

Files& RealFiles() {
  static PosixFiles instance;
  return instance;
}

}  // namespace platform
