#include <cstdlib>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/result.h"
#include "disk/samba_disk.h"

namespace VkSharemapper {
namespace {

constexpr const char* kAddSuccess = "add success";
constexpr const char* kAddFailed = "add failed,mount fault";
constexpr unsigned long kCredentialConflict = 1219;  // ERROR_SESSION_CREDENTIAL_CONFLICT

// The leading decimal digits of text; 0 when there are none.
unsigned long LeadingNumber(const std::string& text) {
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    if (value > 100000000ul) return value;  // far beyond any error number
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value;
}

}  // namespace

void RunAddCommand(const SmOption& options, int& status, std::ostream& out) {
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

  std::string errorText;
  if (disk->Mount(errorText)) {
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
      const int code = LeadingNumber(errorText) == kCredentialConflict ? kErrorCredentialConflict : kErrorFailed;
      out << BuildResult(false, code, kAddFailed, Poco::JSON::Object(0));
    }
  }
  out << std::endl;
}

}  // namespace VkSharemapper
