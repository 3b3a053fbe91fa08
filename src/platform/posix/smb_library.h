// libsmbclient, loaded at the first session and never unloaded (see README).
// The library keeps state of its own for the whole process and is not made
// for calls from two threads at once: every call in this process takes
// LibraryCallLock().
#pragma once

#include <mutex>

#include "log/diag_logger.h"

namespace platform {
namespace posix {

// libsmbclient as its package installs it (the major version is the
// header's ABI); err::kNoNetwork when it cannot be loaded or lacks a function.
constexpr const char* kSmbLibrary = "libsmbclient.so.0";

// The library's functions (smb_api.h).
struct SmbApi;

// The functions, the library loaded on the first call; null (the cause
// logged once) when it cannot be loaded or lacks one of them.
const SmbApi* LoadSmbApi();

// The SMB layer's diagnostic logger, "Sharemapper.Smb".
log4cxx::LoggerPtr SmbLogger();

// Held around every call into the library by this process.
std::mutex& LibraryCallLock();

// For tests: the next session loads `library` (null: kSmbLibrary) anew.
void ResetSmbApiForTests(const char* library);

}  // namespace posix
}  // namespace platform
