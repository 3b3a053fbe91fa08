#include <string>

#include "cli/commands.h"
#include "cli/result.h"
#include "disk/query.h"

namespace VkSharemapper {
namespace {

constexpr const char* kDeleteSuccess = "delete success";
constexpr const char* kNotFound = "delete failed ,not found drive";
constexpr const char* kUnmountFault = "delete failed ,unmount fault";

// The drive the command line named: by letter when --drive had a value, by
// volume name when --volume had one. An empty volume name or a letter nobody
// gave never picks a drive.
bool Matches(const SambaDisk& disk, const SmOption& options, bool driveGiven) {
  if (options.drive.empty()) return false;
  if (driveGiven && !disk.drive.empty() && disk.drive[0] == options.drive[0]) return true;
  return !options.volume.empty() && disk.volume == options.volume;
}

}  // namespace

int RunDeleteCommand(const SmOption& options, std::ostream& out) {
  DriveList list;
  QueryNetDisks(list);

  SambaDisk* target = nullptr;
  for (const auto& disk : list) {
    if (Matches(*disk, options, options.driveGiven)) {
      target = disk.get();
      break;
    }
  }

  std::string message;
  bool success = false;
  if (target == nullptr) {
    message = kNotFound;
  } else if (target->Unmount()) {
    message = kDeleteSuccess;
    success = true;
  } else {
    message = kUnmountFault;
  }

  if (options.form) {
    out << message;
  } else {
    out << BuildResult(success, success ? kErrorNone : kErrorFailed, message, Poco::JSON::Object(0));
  }
  out << std::endl;
  return success ? kExitSuccess : kExitFailure;
}

}  // namespace VkSharemapper
