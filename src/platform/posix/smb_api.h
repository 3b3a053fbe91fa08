// libsmbclient, loaded when the first SMB session is made.
//
// The program is not linked against libsmbclient: the library and the
// hundred-odd Samba libraries it needs would be loaded and bound at every
// start, although only a run that connects a drive uses them. Instead the
// functions below are looked up in the library the first time a session is
// set up, and the table is kept until the process ends (the library is
// never unloaded: sessions and their memory stay valid until exit).
//
// The header is still compiled against, so every pointer in the table has
// exactly the type the installed library declares.
#pragma once

#include <libsmbclient.h>

#include "platform/errors.h"

namespace platform {
namespace posix {

// The library's file name, as its package installs it (the major version is
// the ABI the header describes).
constexpr const char* kSmbLibrary = "libsmbclient.so.0";

// Returned when libsmbclient cannot be loaded or lacks a function we use:
// ERROR_NO_NETWORK (1222), "the network is not present or not started".
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

// The functions, loading the library on the first call. Null when it cannot
// be loaded or lacks one of them; the cause then goes to the
// "Sharemapper.Smb" logger (once: later calls answer null straight away).
const SmbApi* LoadSmbApi();

// For tests: forget the outcome of the last load, so that the next
// LoadSmbApi tries `library` (null: kSmbLibrary). A library loaded before
// stays in memory.
void ResetSmbApiForTests(const char* library);

}  // namespace posix
}  // namespace platform
