#include "log/applog.h"

#include <Poco/Path.h>

#include "platform/platform.h"

namespace VkSharemapper {

AppLogFile AppLog;

AppLogFile::AppLogFile() { Open(); }

void AppLogFile::Open() {
  std::string directory;
  if (!platform::system().CurrentDirectory(directory)) return;  // log off
  directory += "Applog";
  platform::Files& files = platform::files();
  if (files.Access(directory, 0) != platform::err::kSuccess &&
      files.MakeDirectory(directory) != platform::err::kSuccess) {
    return;  // log off
  }
  const std::string path = directory + Poco::Path::separator() + "VkSharemapper.log";
  std::unique_ptr<std::streambuf> buffer = files.OpenLogFile(path);
  if (!buffer) return;  // log off
  std::lock_guard<std::mutex> guard(lock_);
  path_ = path;
  buffer_ = std::move(buffer);
  stream_ = std::make_unique<std::ostream>(buffer_.get());
}

void AppLogFile::Reopen() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stream_.reset();
    buffer_.reset();
    path_.clear();
  }
  Open();
}

AppLogFile::~AppLogFile() {
  std::lock_guard<std::mutex> guard(lock_);
  if (stream_) {
    stream_->flush();
    stream_.reset();
  }
  buffer_.reset();  // closes the file
}

AppLogFile& AppLogFile::operator<<(std::ostream& (*manipulator)(std::ostream&)) {
  std::lock_guard<std::mutex> guard(lock_);
  if (stream_) {
    *stream_ << manipulator;
    stream_->flush();
    stream_->flush();
  }
  return *this;
}

AppLogFile& LogHead(AppLogFile& log, const char* location, int line, const char* level) {
  platform::System& sys = platform::system();
  const platform::LocalTime now = sys.LocalTimeNow();
  const std::uint64_t thread = sys.CurrentThreadId();
  std::string stamp = "]";
  stamp += std::to_string(now.year) + "-" + std::to_string(now.month) + "-" + std::to_string(now.day) + " " +
           std::to_string(now.hour) + ":" + std::to_string(now.minute) + ":" + std::to_string(now.second) +
           ":" + std::to_string(now.milliseconds) + " " + location;
  log << "[" << thread << stamp << ":" << line << "  ";
  log << level << ":  ";
  return log;
}

}  // namespace VkSharemapper
