// Linux implementation of the files concern: local paths go to the file
// system directly.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"
#include "platform/posix/last_error.h"

namespace platform {
namespace {

class PosixFiles : public Files {
 public:
  int Access(const std::string& path, int mode) override {
    return ::access(path.c_str(), mode == 0 ? F_OK : mode) == 0 ? 0 : -1;
  }

  bool MakeDirectory(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    posix::SetLastErrorFromErrno(errno);
    return false;
  }

  FindHandle FindFirst(const std::string&, FindData&) override {
    posix::SetLastError(err::kPathNotFound);
    return kInvalidFind;
  }
  bool FindNext(FindHandle, FindData&) override {
    posix::SetLastError(err::kInvalidHandle);
    return false;
  }
  bool FindEnd(FindHandle) override { return false; }
  bool SetAttributes(const std::string&, std::uint32_t) override { return false; }
  bool RemoveFile(const std::string& path) override {
    if (::unlink(path.c_str()) == 0) return true;
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  bool RemoveDir(const std::string& path) override {
    if (::rmdir(path.c_str()) == 0) return true;
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  ErrorCode LastError() override { return posix::GetLastError(); }
};

}  // namespace

Files& RealFiles() {
  static PosixFiles instance;
  return instance;
}

}  // namespace platform
