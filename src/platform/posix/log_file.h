// The application log's file on Linux: opened without following links or
// waiting on FIFOs, and emptied only once it is known to be a plain file of
// the user's own.
#pragma once

#include <memory>
#include <streambuf>
#include <string>

namespace platform {
namespace posix {

// Files::OpenLogFile for a local path.
std::unique_ptr<std::streambuf> OpenLogFile(const std::string& path);

}  // namespace posix
}  // namespace platform
