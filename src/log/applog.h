// The application log: Applog/VkSharemapper.log below the working directory,
// emptied at every start and written one flushed insertion at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

namespace VkSharemapper {

class AppLogFile {
 public:
  // Opens Applog/VkSharemapper.log below the current working directory,
  // creating the folder when needed. Any failure turns the log off quietly,
  // and so does anything but a plain file of the user's own in that place
  // (a link, a FIFO, a device, a folder that is a link or someone else's):
  // another user who can write the working directory can plant those.
  AppLogFile();
  ~AppLogFile();
  AppLogFile(const AppLogFile&) = delete;
  AppLogFile& operator=(const AppLogFile&) = delete;

  // Closes the log and opens it anew below the current working directory.
  void Reopen();

  template <typename T>
  AppLogFile& operator<<(const T& value) {
    std::lock_guard<std::mutex> guard(lock_);
    if (stream_) {
      *stream_ << value;
      stream_->flush();
    }
    return *this;
  }

  // std::endl and friends.
  AppLogFile& operator<<(std::ostream& (*manipulator)(std::ostream&));

  // The path of the log file, empty when the log is off.
  const std::string& path() const { return path_; }

 private:
  void Open();

  // The file's buffer, then the stream that formats into it.
  std::unique_ptr<std::streambuf> buffer_;
  std::unique_ptr<std::ostream> stream_;
  std::mutex lock_;
  std::string path_;
};

// The process-wide application log.
extern AppLogFile AppLog;

// Level texts.
constexpr const char* kLevelInfo = "INFO";
constexpr const char* kLevelErr = "ERR";

// Writes the head of a line: "[thread]Y-M-D h:m:s:ms location:line  LEVEL:  ".
// The message pieces and std::endl follow through the returned log.
AppLogFile& LogHead(AppLogFile& log, const char* location, int line, const char* level);

// Fixed line numbers of the writing sites; the log keeps them whatever the
// source layout, so that tools reading it can rely on them.
namespace logline {
constexpr int kOptionFailed = 141;
constexpr int kMountMissingParameter = 114;
constexpr int kMountSucceeded = 143;
constexpr int kMountFailed = 148;
constexpr int kMountRegistryResult = 169;
constexpr int kMountRecycleBin = 173;
constexpr int kUnmountKeyFailed = 192;
constexpr int kUnmountSucceeded = 198;
constexpr int kUnmountFailed = 202;
}  // namespace logline

}  // namespace VkSharemapper
