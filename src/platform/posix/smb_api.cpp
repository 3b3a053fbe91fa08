#include "platform/posix/smb_api.h"

#include <dlfcn.h>

#include <mutex>
#include <string>


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

// Lazy, local, and (but in a sanitizer build) deep-bound: see README.
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
  // Only a complete load fills it; sessions keep pointing here.
  SmbApi table;
};

Loader& State() {
  static Loader state;
  return state;
}

std::string LastDlError() {
  const char* text = ::dlerror();
  return text != nullptr ? text : "unknown reason";
}

// False, with the reason logged, when the library or a function is missing.
bool Load(const std::string& library, SmbApi& out) {
  void* handle = ::dlopen(library.c_str(), kOpenFlags);
  if (handle == nullptr) {
    LOG4CXX_ERROR(SmbLogger(), "cannot load " << library << ": " << LastDlError()
                                           << "; SMB connections are not available (Windows error "
                                           << kNoNetwork << ")");
    return false;
  }
  SmbApi api;
  const char* missing = nullptr;
#define SM_SMB_RESOLVE(name)                                                     \
  if (missing == nullptr) {                                                      \
    api.name = reinterpret_cast<decltype(api.name)>(::dlsym(handle, #name));     \
    if (api.name == nullptr) missing = #name;                                    \
  }
  SM_SMB_FUNCTIONS(SM_SMB_RESOLVE)
#undef SM_SMB_RESOLVE
  if (missing != nullptr) {
    LOG4CXX_ERROR(SmbLogger(), library << " has no function " << missing
                                    << "; SMB connections are not available (Windows error " << kNoNetwork
                                    << ")");
    ::dlclose(handle);
    return false;
  }
  out = api;
  return true;
}

}  // namespace

log4cxx::LoggerPtr SmbLogger() {
  static log4cxx::LoggerPtr logger = LayerLogger("Sharemapper.Smb");
  return logger;
}

const SmbApi* LoadSmbApi() {
  Loader& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.tried) {
    state.tried = true;
    state.loaded = Load(state.library, state.table);
    if (state.loaded) LOG4CXX_DEBUG(SmbLogger(), "loaded " << state.library);
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
