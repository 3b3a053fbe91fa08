#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/result.h"
#include "disk/samba_disk.h"

namespace VkSharemapper {
namespace {

constexpr const char* kAddSuccess = "add success";
constexpr const char* kAddFailed = "add failed,mount fault";
}  // namespace

int RunAddCommand(const SmOption& options, std::ostream& out) {
  auto disk = std::make_unique<SambaDisk>();
  disk->drive = options.drive;
  disk->host = options.host;
  disk->location = options.location;
  disk->domain = options.domain;
  disk->user = options.user;
  disk->password = options.password;
  disk->userid = options.userid;
  disk->volume = options.volume;
  disk->dsid = options.dsid;
  disk->anyLetter = options.anyLetter;

  int status = kExitSuccess;
  platform::ErrorCode error = platform::err::kSuccess;
  if (disk->Mount(error)) {
    if (options.form) {
      out << kAddSuccess;
    } else {
      out << BuildResult(true, kErrorNone, kAddSuccess, Poco::JSON::Object(0));
    }
  } else {
    status = kExitFailure;
    if (options.form) {
      out << kAddFailed;
    } else {
      const int code = error == platform::err::kSessionCredentialConflict ? kErrorCredentialConflict : kErrorFailed;
      out << BuildResult(false, code, kAddFailed, Poco::JSON::Object(0));
    }
  }
  out << std::endl;
  return status;
}

}  // namespace VkSharemapper
