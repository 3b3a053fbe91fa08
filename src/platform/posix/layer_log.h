// The log4cxx loggers of the Linux layer ("Sharemapper.Connections",
// "Sharemapper.Smb", "Sharemapper.KeyStore"). The program configures nothing: an unconfigured
// log4cxx drops the messages quietly instead of printing warnings to
// standard error; a configuration log4cxx finds by itself routes them.
#pragma once

#include <log4cxx/logger.h>

namespace platform {
namespace posix {

log4cxx::LoggerPtr LayerLogger(const char* name);

}  // namespace posix
}  // namespace platform
