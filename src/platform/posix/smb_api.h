// libsmbclient, loaded when the first SMB session is made and never
// unloaded (see README); its header is compiled against, so every pointer
// has the type the installed library declares.
#pragma once

#include <libsmbclient.h>

#include "platform/errors.h"
#include "platform/posix/layer_log.h"

namespace platform {
namespace posix {

// As its package installs it; the major version is the header's ABI.
constexpr const char* kSmbLibrary = "libsmbclient.so.0";

// ERROR_NO_NETWORK: libsmbclient cannot be loaded or lacks a function.
constexpr ErrorCode kNoNetwork = 1222;

// Every libsmbclient function the SMB layer calls.
#define SM_SMB_FUNCTIONS(X)                \
  X(smbc_new_context)                      \
  X(smbc_free_context)                     \
  X(smbc_init_context)                     \
  X(smbc_setDebug)                         \
  X(smbc_setLogCallback)                   \
  X(smbc_setOptionDebugToStderr)           \
  X(smbc_setOptionUserData)                \
  X(smbc_getOptionUserData)                \
  X(smbc_setFunctionAuthDataWithContext)   \
  X(smbc_setFunctionCheckServer)           \
  X(smbc_setOptionNoAutoAnonymousLogin)    \
  X(smbc_setOptionUseKerberos)             \
  X(smbc_setOptionFallbackAfterKerberos)   \
  X(smbc_setOptionUseCCache)               \
  X(smbc_setOptionUseNTHash)               \
  X(smbc_setTimeout)                       \
  X(smbc_setPort)                          \
  X(smbc_getFunctionOpendir)               \
  X(smbc_getFunctionClosedir)              \
  X(smbc_getFunctionReaddirPlus2)          \
  X(smbc_getFunctionStat)                  \
  X(smbc_getFunctionChmod)                 \
  X(smbc_getFunctionSetxattr)              \
  X(smbc_getFunctionMkdir)                 \
  X(smbc_getFunctionUnlink)                \
  X(smbc_getFunctionRmdir)

// One pointer per function, named like it: api.smbc_new_context().
struct SmbApi {
#define SM_SMB_MEMBER(name) decltype(&::name) name = nullptr;
  SM_SMB_FUNCTIONS(SM_SMB_MEMBER)
#undef SM_SMB_MEMBER
};

// The functions, loading the library on the first call; null (the cause
// logged once) when it cannot be loaded or lacks one of them.
const SmbApi* LoadSmbApi();

// For tests: the next LoadSmbApi tries `library` (null: kSmbLibrary).
void ResetSmbApiForTests(const char* library);

// The "Sharemapper.Smb" logger.
log4cxx::LoggerPtr SmbLogger();

}  // namespace posix
}  // namespace platform
