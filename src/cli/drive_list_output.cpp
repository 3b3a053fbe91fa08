#include "cli/drive_list_output.h"

#include <Poco/JSON/Object.h>

#include "platform/platform.h"

namespace VkSharemapper {
namespace {
constexpr std::size_t kDriveWidth = 8;
constexpr std::size_t kHostWidth = 24;
constexpr std::size_t kUserIdWidth = 24;
constexpr std::size_t kSessionWidth = 32;
constexpr std::size_t kLocationWidth = 48;

// The text up to its first zero byte.
std::string UpToZero(const std::string& text) { return text.substr(0, text.find('\0')); }
}  // namespace

std::string OemToUtf8(const std::string& text) { return platform::text().OemToUtf8(UpToZero(text)); }

std::string ColumnFill(std::size_t textLength, std::size_t width) {
  const std::size_t columns = width / 8;
  const std::size_t covered = textLength / 8;
  return covered < columns ? std::string(columns - covered, '\t') : std::string();
}

void PrintFormTable(std::ostream& out, const DriveList& list) {
  out << "DRIVE\t" << "HOST\t\t\tUSERID\t\t\tDISKSESSIONID\t\t\tLOCATION\t\t\t\t\tVOLUMENAME" << std::endl;
  for (const auto& disk : list) {
    out << disk->drive << ColumnFill(disk->drive.size(), kDriveWidth)
        << disk->host << ColumnFill(disk->host.size(), kHostWidth)
        << disk->userid << ColumnFill(disk->userid.size(), kUserIdWidth)
        << disk->dsid << ColumnFill(disk->dsid.size(), kSessionWidth)
        << disk->location << ColumnFill(disk->location.size(), kLocationWidth)
        << disk->volume << std::endl;
  }
  out << "." << std::endl;
}

Poco::JSON::Array BuildQueryRecords(const DriveList& list) {
  Poco::JSON::Array records(0);
  for (const auto& disk : list) {
    Poco::JSON::Object record(0);
    // JSON text is UTF-8: every text that can carry bytes above 127 is
    // converted like the label (ASCII stays as it is).
    record.set("drive", disk->drive);
    record.set("host", OemToUtf8(disk->host));
    record.set("location", OemToUtf8(disk->location));
    record.set("userid", OemToUtf8(disk->userid));
    record.set("dsid", OemToUtf8(disk->dsid));
    record.set("volumename", OemToUtf8(disk->volume));
    records.add(record);
  }
  return records;
}

}  // namespace VkSharemapper
