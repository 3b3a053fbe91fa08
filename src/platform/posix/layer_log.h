// The log4cxx loggers of the Linux layer ("Sharemapper.Connections",
// "Sharemapper.Smb", "Sharemapper.KeyStore"), as quiet as the program's own.
#pragma once

#include "log/diag_logger.h"

namespace platform {
namespace posix {

inline log4cxx::LoggerPtr LayerLogger(const char* name) { return VkSharemapper::diag::GetLogger(name); }

}  // namespace posix
}  // namespace platform
