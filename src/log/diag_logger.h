// Diagnostic logger: the log4cxx logger through which the registry helpers
// report their progress (debug) and failures (error).
//
// The program configures nothing: where the messages go is up to log4cxx's
// own default initialisation (a log4cxx.properties or log4cxx.xml in the
// working directory, or the file named by LOG4CXX_CONFIGURATION).
//
// Each message carries a fixed source line rather than __LINE__, so that the
// lines a log reader sees stay the same whatever the layout of the source.
#pragma once

#include <log4cxx/helpers/messagebuffer.h>
#include <log4cxx/level.h>
#include <log4cxx/logger.h>
#include <log4cxx/spi/location/locationinfo.h>

namespace VkSharemapper {
namespace diag {

// Name of the registry helpers' logger.
constexpr const char* kLoggerName = "DARezize";

// Returns the logger named `name`. On the first call it also makes sure that
// an unconfigured log4cxx stays silent: with no appender anywhere, log4cxx
// would print "No appender could be found" warnings to standard error, which
// is no place for this program's diagnostics. A configuration that log4cxx
// finds by itself still routes every message.
log4cxx::LoggerPtr GetLogger(const char* name = kLoggerName);

// Keeps log4cxx's internal warnings off standard error when no appender is
// attached to any logger. Safe to call more than once.
void QuietWhenUnrouted();

}  // namespace diag
}  // namespace VkSharemapper

// The emitting function's full signature as the compiler spells it.
#if defined(_MSC_VER)
#define SM_DIAG_FUNCTION __FUNCSIG__
#elif defined(__GNUC__)
#define SM_DIAG_FUNCTION __PRETTY_FUNCTION__
#else
#define SM_DIAG_FUNCTION __func__
#endif

// Location of a message: this source file, the emitting function, `line`.
#define SM_DIAG_LOCATION(line)                                                       \
  ::log4cxx::spi::LocationInfo(__FILE__, ::log4cxx::spi::LocationInfo::calcShortFileName(__FILE__), \
                               SM_DIAG_FUNCTION, (line))

// Emits `message` (pieces joined with <<) at `level` when that level is
// enabled. When it is not, the message is not built and none of its pieces
// is evaluated.
#define SM_DIAG_LOG(logger, isEnabled, level, line, message)                  \
  do {                                                                        \
    if ((logger)->isEnabled()) {                                              \
      ::log4cxx::helpers::MessageBuffer sm_diag_buffer_;                      \
      (logger)->forcedLog((level), sm_diag_buffer_.str(sm_diag_buffer_ << message), \
                          SM_DIAG_LOCATION(line));                            \
    }                                                                         \
  } while (0)

#define SM_DIAG_DEBUG(logger, line, message) \
  SM_DIAG_LOG(logger, isDebugEnabled, ::log4cxx::Level::getDebug(), line, message)
#define SM_DIAG_ERROR(logger, line, message) \
  SM_DIAG_LOG(logger, isErrorEnabled, ::log4cxx::Level::getError(), line, message)
