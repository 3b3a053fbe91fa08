#include "platform/posix/smb_library.h"

#include <dlfcn.h>

#include <optional>
#include <string>

#include "platform/errors.h"
#include "platform/posix/smb_api.h"

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
  std::mutex calls;  // LibraryCallLock()
  std::string library = kSmbLibrary;
  std::optional<bool> loaded;  // whether the load succeeded, once tried
  SmbApi api;                  // only a complete load fills it; sessions keep pointing here
};

Loader& State() {
  static Loader state;
  return state;
}

}  // namespace

log4cxx::LoggerPtr SmbLogger() {
  static log4cxx::LoggerPtr logger = VkSharemapper::diag::GetLogger("Sharemapper.Smb");
  return logger;
}

const SmbApi* LoadSmbApi() {
  Loader& state = State();
  const std::lock_guard<std::mutex> lock(state.mutex);
  if (state.loaded) return *state.loaded ? &state.api : nullptr;
  void* handle = ::dlopen(state.library.c_str(), kOpenFlags);
  const char* error = handle == nullptr ? ::dlerror() : nullptr;
  std::string why = handle == nullptr ? "cannot load " + state.library + ": " + (error ? error : "unknown reason") : "";
  SmbApi api;
#define SM_SMB_RESOLVE(name)                                                                \
  api.name = why.empty() ? reinterpret_cast<decltype(api.name)>(::dlsym(handle, #name)) : nullptr; \
  if (why.empty() && api.name == nullptr) why = state.library + " has no function " #name;
  SM_SMB_FUNCTIONS(SM_SMB_RESOLVE)
#undef SM_SMB_RESOLVE
  state.loaded = why.empty();
  if (why.empty()) {
    state.api = api;
    LOG4CXX_DEBUG(SmbLogger(), "loaded " << state.library);
    return &state.api;
  }
  LOG4CXX_ERROR(SmbLogger(), why << "; SMB connections are not available (Windows error " << err::kNoNetwork << ")");
  if (handle != nullptr) ::dlclose(handle);
  return nullptr;
}

std::mutex& LibraryCallLock() { return State().calls; }

void ResetSmbApiForTests(const char* library) {
  Loader& state = State();
  const std::lock_guard<std::mutex> lock(state.mutex);
  state.library = library != nullptr ? library : kSmbLibrary;
  state.loaded.reset();
}

#if defined(__SANITIZE_ADDRESS__)
// Leaks that are not ours: libsmbclient's log file name (a talloc block) per
// context, the entries of an opendir whose listing broke off (the server
// went away half-way), glibc's copy of LOCPATH in newlocale.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libtalloc.so\n"
         "leak:libsmbclient.so\n"
         "leak:__argz_add_sep\n";
}
// ... and without a note of them on standard error at exit.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

}  // namespace posix
}  // namespace platform
