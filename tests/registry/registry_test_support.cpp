#include "registry_test_support.h"

#include <Poco/Environment.h>
#include <Poco/Exception.h>
#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>
#include <Poco/StreamCopier.h>
#include <Poco/TemporaryFile.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/level.h>
#include <log4cxx/spi/loggingevent.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/posix/registry_store.h"

namespace regtest {

class Capture::Appender : public log4cxx::AppenderSkeleton {
 public:
  std::vector<Message> messages;

  void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override {
    const log4cxx::spi::LocationInfo& where = event->getLocationInformation();
    Message message;
    message.logger = event->getLoggerName();
    message.level = event->getLevel()->toString();
    message.text = event->getMessage();
    message.file = where.getFileName() != nullptr ? where.getFileName() : "";
    message.className = where.getClassName();
    message.method = where.getMethodName();
    message.line = where.getLineNumber();
    messages.push_back(message);
  }
  void close() override {}
  bool requiresLayout() const override { return false; }
};

Capture::Capture(const char* logger)
    : logger_(log4cxx::Logger::getLogger(logger)), appender_(std::make_shared<Appender>()) {
  previousLevel_ = logger_->getLevel();
  logger_->setLevel(log4cxx::Level::getDebug());
  logger_->addAppender(appender_);
}

Capture::~Capture() {
  logger_->removeAppender(appender_);
  logger_->setLevel(previousLevel_);
}

const std::vector<Message>& Capture::messages() const { return appender_->messages; }

std::vector<std::string> Capture::Texts() const {
  std::vector<std::string> texts;
  for (const Message& message : messages()) texts.push_back(message.text);
  return texts;
}

bool Capture::HasError(const std::string& prefix) const {
  for (const Message& message : messages()) {
    if (message.level == "ERROR" && message.text.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

TempStore::TempStore() {
  base_ = fs::temp_directory_path() / fs::path(Poco::TemporaryFile::tempName()).filename();
  config_ = base_ / "config";
  fs::create_directories(config_);
  Poco::Environment::set("XDG_CONFIG_HOME", config_.string());
  platform::posix::ResetKeyStore();
}

TempStore::~TempStore() {
  platform::posix::ResetKeyStore();
  std::error_code ignored;
  fs::remove_all(base_, ignored);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

RunResult Run(const std::string& program, const std::vector<std::string>& args, const std::string& directory,
              const std::map<std::string, std::string>& env) {
  Poco::Pipe out;
  Poco::Pipe err;
  Poco::Process::Env childEnv(env.begin(), env.end());
  Poco::ProcessHandle handle = Poco::Process::launch(program, args, directory, nullptr, &out, &err, childEnv);
  RunResult result;
  Poco::PipeInputStream outStream(out);
  Poco::PipeInputStream errStream(err);
  Poco::StreamCopier::copyToString(outStream, result.out);
  Poco::StreamCopier::copyToString(errStream, result.err);
  result.status = handle.wait();
  return result;
}

int RunTool(const std::string& program, const std::vector<std::string>& args) {
  try {
    return Run(program, args, fs::temp_directory_path().string()).status;
  } catch (const Poco::Exception&) {
    return -1;
  }
}

}  // namespace regtest
