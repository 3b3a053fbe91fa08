// Collects what one log4cxx logger emits, at every level, while it lives.
#pragma once

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/logger.h>
#include <log4cxx/spi/loggingevent.h>

#include <memory>
#include <string>
#include <vector>

namespace testkit {

struct Message {
  std::string level, text, file, className, method;
  int line = 0;
};

class LoggerCapture {
 public:
  explicit LoggerCapture(const char* logger = "DARezize")
      : logger_(log4cxx::Logger::getLogger(logger)), appender_(std::make_shared<Appender>()) {
    previousLevel_ = logger_->getLevel();
    logger_->setLevel(log4cxx::Level::getDebug());
    logger_->addAppender(appender_);
  }
  ~LoggerCapture() {
    logger_->removeAppender(appender_);
    logger_->setLevel(previousLevel_);
  }
  LoggerCapture(const LoggerCapture&) = delete;
  LoggerCapture& operator=(const LoggerCapture&) = delete;

  const std::vector<Message>& messages() const { return appender_->messages; }
  void Clear() { appender_->messages.clear(); }
  // Whether an ERROR message begins with `prefix`, or (`anywhere`) holds it.
  bool HasError(const std::string& prefix, bool anywhere = false) const {
    for (const Message& m : messages()) {
      if (m.level == "ERROR" && (anywhere ? m.text.find(prefix) != std::string::npos : m.text.rfind(prefix, 0) == 0)) {
        return true;
      }
    }
    return false;
  }

 private:
  class Appender : public log4cxx::AppenderSkeleton {
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

  log4cxx::LoggerPtr logger_;
  std::shared_ptr<Appender> appender_;
  log4cxx::LevelPtr previousLevel_;
};

}  // namespace testkit
