#include "platform/posix/smb_api.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

#include "platform/posix/layer_log.h"

namespace platform {
namespace posix {
namespace {

#if defined(__SANITIZE_ADDRESS__)
#define SM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define SM_SANITIZED 1
#endif
#endif

// Loading the library is most of an add's cost: it brings in about a
// hundred Samba libraries, almost all linked to be bound at once, so the
// dynamic loader looks up tens of thousands of symbols.
//   RTLD_LAZY: whatever can wait until it is called does. Each function we
//     call is still looked up below, so a library without one is refused
//     before any session.
//   RTLD_LOCAL: its symbols stay out of the program's global scope.
//   RTLD_DEEPBIND: the Samba libraries find their own symbols among
//     themselves first instead of searching this program's libraries before
//     them, which saves about a sixth of an add's instructions. Not in a
//     sanitizer build, whose allocator must stay the one everybody calls.
#ifdef SM_SANITIZED
constexpr int kOpenFlags = RTLD_LAZY | RTLD_LOCAL;
#else
constexpr int kOpenFlags = RTLD_LAZY | RTLD_LOCAL | RTLD_DEEPBIND;
#endif

struct Loader {
  std::mutex mutex;
  std::string library = kSmbLibrary;
  bool tried = false;
  bool loaded = false;
  // Filled only by a complete load, and only ever with the addresses of a
  // library that stays in memory: sessions keep pointing here.
  SmbApi table;
};

Loader& State() {
  static Loader state;
  return state;
}

log4cxx::LoggerPtr Logger() {
  static log4cxx::LoggerPtr logger = LayerLogger("Sharemapper.Smb");
  return logger;
}

std::string LastDlError() {
  const char* text = ::dlerror();
  return text != nullptr ? text : "unknown reason";
}

// Loads the library and looks every function up. False, with the reason
// logged, when either fails; the library is then let go again.
bool Load(const std::string& library, SmbApi& out) {
  void* handle = ::dlopen(library.c_str(), kOpenFlags);
  if (handle == nullptr) {
    LOG4CXX_ERROR(Logger(), "cannot load " << library << ": " << LastDlError()
                                           << "; SMB connections are not available (Windows error "
                                           << kNoNetwork << ")");
    return false;
  }
  SmbApi api;
  const char* missing = nullptr;
  // The cast from the object pointer dlsym answers to a function pointer is
  // what POSIX guarantees to work.
#define SM_SMB_RESOLVE(name)                                                     \
  if (missing == nullptr) {                                                      \
    api.name = reinterpret_cast<decltype(api.name)>(::dlsym(handle, #name));     \
    if (api.name == nullptr) missing = #name;                                    \
  }
  SM_SMB_FUNCTIONS(SM_SMB_RESOLVE)
#undef SM_SMB_RESOLVE
  if (missing != nullptr) {
    LOG4CXX_ERROR(Logger(), library << " has no function " << missing
                                    << "; SMB connections are not available (Windows error " << kNoNetwork
                                    << ")");
    ::dlclose(handle);
    return false;
  }
  out = api;
  return true;
}

}  // namespace

const SmbApi* LoadSmbApi() {
  Loader& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.tried) {
    state.tried = true;
    state.loaded = Load(state.library, state.table);
    if (state.loaded) LOG4CXX_DEBUG(Logger(), "loaded " << state.library);
  }
  return state.loaded ? &state.table : nullptr;
}

void ResetSmbApiForTests(const char* library) {
  Loader& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.library = library != nullptr ? library : kSmbLibrary;
  state.tried = false;
  state.loaded = false;
}

}  // namespace posix
}  // namespace platform
