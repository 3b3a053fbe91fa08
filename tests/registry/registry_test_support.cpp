#include "registry_test_support.h"

#include <Poco/Environment.h>
#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>
#include <Poco/StreamCopier.h>
#include <Poco/TemporaryFile.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/spi/loggingevent.h>

#include <fstream>
#include <iterator>

#include "platform/posix/registry.h"

namespace regtest {

class Capture::Appender : public log4cxx::AppenderSkeleton {
 public:
  std::vector<Message> messages;
  void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override {
    const log4cxx::spi::LocationInfo& where = event->getLocationInformation();
    messages.push_back({event->getLevel()->toString(), event->getMessage(), where.getFileName(),
                        where.getClassName(), where.getMethodName(), where.getLineNumber()});
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
void Capture::Clear() { appender_->messages.clear(); }

bool Capture::HasError(const std::string& prefix) const {
  for (const Message& m : messages()) {
    if (m.level == "ERROR" && m.text.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

TempStore::TempStore()
    : base(fs::temp_directory_path() / fs::path(Poco::TemporaryFile::tempName()).filename()),
      config(base / "config"),
      file(config / "sharemapper" / "registry.db") {
  fs::create_directories(config);
  Poco::Environment::set("XDG_CONFIG_HOME", config.string());
  platform::posix::ResetKeyStore();
}

TempStore::~TempStore() {
  platform::posix::ResetKeyStore();
  std::error_code ignored;
  fs::remove_all(base, ignored);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

RunResult Run(const std::string& program, const std::vector<std::string>& args, const fs::path& directory,
              const std::map<std::string, std::string>& env) {
  Poco::Pipe out, err;
  Poco::Process::Env childEnv(env.begin(), env.end());
  Poco::ProcessHandle handle =
      Poco::Process::launch(program, args, directory.string(), nullptr, &out, &err, childEnv);
  RunResult result;
  Poco::PipeInputStream outStream(out), errStream(err);
  Poco::StreamCopier::copyToString(outStream, result.out);
  Poco::StreamCopier::copyToString(errStream, result.err);
  result.status = handle.wait();
  return result;
}

}  // namespace regtest
