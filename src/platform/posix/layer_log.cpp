#include "platform/posix/layer_log.h"

#include <log4cxx/helpers/loglog.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/spi/loggerrepository.h>

namespace platform {
namespace posix {
namespace {

// With no appender anywhere, log4cxx would warn on standard error at the
// first message; the program's output streams are no place for that.
void QuietWhenUnrouted() {
  // Asking for the repository runs log4cxx's default initialisation, so the
  // appenders seen here are those of any configuration it found.
  log4cxx::spi::LoggerRepositoryPtr repository = log4cxx::LogManager::getLoggerRepository();
  if (!repository) return;
  if (!repository->getRootLogger()->getAllAppenders().empty()) return;
  for (const log4cxx::LoggerPtr& logger : repository->getCurrentLoggers()) {
    if (logger && !logger->getAllAppenders().empty()) return;
  }
  log4cxx::helpers::LogLog::setQuietMode(true);
}

}  // namespace

log4cxx::LoggerPtr LayerLogger(const char* name) {
  static const bool quieted = (QuietWhenUnrouted(), true);
  (void)quieted;
  return log4cxx::Logger::getLogger(name);
}

}  // namespace posix
}  // namespace platform
