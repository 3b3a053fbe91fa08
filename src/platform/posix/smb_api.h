// The libsmbclient functions the SMB layer calls, as the installed header
// declares them.
#pragma once

#include <libsmbclient.h>

namespace platform {
namespace posix {

// Every libsmbclient function the SMB layer calls.
#define SM_SMB_FUNCTIONS(X)                                                                     \
  X(smbc_new_context) X(smbc_free_context) X(smbc_init_context) X(smbc_setDebug)               \
  X(smbc_setLogCallback) X(smbc_setOptionDebugToStderr) X(smbc_setOptionUserData)              \
  X(smbc_getOptionUserData) X(smbc_setFunctionAuthDataWithContext) X(smbc_setFunctionCheckServer) \
  X(smbc_setOptionNoAutoAnonymousLogin) X(smbc_setOptionUseKerberos)                           \
  X(smbc_setOptionFallbackAfterKerberos) X(smbc_setOptionUseCCache) X(smbc_setOptionUseNTHash) \
  X(smbc_setTimeout) X(smbc_setPort) X(smbc_getFunctionOpendir) X(smbc_getFunctionClosedir)    \
  X(smbc_getFunctionReaddirPlus2) X(smbc_getFunctionStat) X(smbc_getFunctionChmod)             \
  X(smbc_getFunctionSetxattr) X(smbc_getFunctionMkdir) X(smbc_getFunctionUnlink)               \
  X(smbc_getFunctionRmdir)

// One pointer per function, named like it: api.smbc_new_context(). The
// header is compiled against, so every pointer has the type the installed
// library declares.
struct SmbApi {
#define SM_SMB_MEMBER(name) decltype(&::name) name = nullptr;
  SM_SMB_FUNCTIONS(SM_SMB_MEMBER)
#undef SM_SMB_MEMBER
};

}  // namespace posix
}  // namespace platform
