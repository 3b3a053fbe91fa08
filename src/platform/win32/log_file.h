// The application log's file on Windows: opened without following a link at
// its name, and emptied only once it is known to be a plain disk file.
#pragma once

#include <memory>
#include <streambuf>
#include <string>

namespace platform {
namespace win32 {

// Files::OpenLogFile.
std::unique_ptr<std::streambuf> OpenLogFile(const std::string& path);

}  // namespace win32
}  // namespace platform
