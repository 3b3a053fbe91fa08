#include "utils/vkreg.h"

#include <algorithm>
#include <limits>

#include "log/diag_logger.h"
#include "platform/platform.h"

namespace DAVeruv {
namespace {

// The helpers' logger, obtained once at start-up and released at exit.
const log4cxx::LoggerPtr g_logger = VkSharemapper::diag::GetLogger(VkSharemapper::diag::kLoggerName);

constexpr std::size_t kMaxPathLength = kWorkingPathSize - 1;
constexpr std::uint32_t kSubkeyNameSize = 260;
constexpr const char* kBackupPrivilege = "SeBackupPrivilege";

// The key path a helper works on: the caller's text up to its first zero
// byte, as the registry sees it.
std::string WorkingPath(const std::string& subKey) { return std::string(subKey.c_str()); }

// Length of the text in `data`: up to its first zero byte, at most `size`.
std::size_t TextLength(const char* data, std::size_t size) {
  return static_cast<std::size_t>(std::find(data, data + size, '\0') - data);
}

bool FitsWorkingPath(const std::string& path) { return path.size() <= kMaxPathLength; }

// A path made of nothing but separators names the root itself.
bool NamesRoot(const std::string& path) {
  return path.find_first_not_of('\\') == std::string::npos;
}

// Opens the process token and enables the backup privilege in it. Whether the
// privilege could be enabled is not checked: only a token that cannot be
// opened stops the caller. The token is closed again straight away; the
// privilege stays enabled in the process.
bool EnableBackupPrivilege() {
  platform::System& system = platform::system();
  platform::TokenHandle token = 0;
  if (!system.OpenProcessToken(platform::token::kAdjustPrivileges | platform::token::kQuery, token)) {
    return false;
  }
  system.EnablePrivilege(token, kBackupPrivilege);
  system.CloseToken(token);
  return true;
}

}  // namespace

int addRegisterKey(HKEY /*root*/, const std::string& subKey, const std::string& valueName, const std::string& value) {
  const std::string path = WorkingPath(subKey);
  SM_DIAG_DEBUG(g_logger, diagline::kWriteEnter, "enter WriteRegister");

  if (subKey.empty() || valueName.empty() || value.empty()) {
    SM_DIAG_ERROR(g_logger, diagline::kWriteMissingParameter, "param is missing, please check!");
    return 0;
  }

  platform::Registry& registry = platform::registry();
  if (!EnableBackupPrivilege()) {
    SM_DIAG_ERROR(g_logger, diagline::kWriteNoProcess, "get current process failed");
    return 0;
  }

  // A path that does not fit is refused, never cut: a cut path names some
  // other key, which must not be created or written.
  platform::KeyHandle key = 0;
  if (!FitsWorkingPath(path) || NamesRoot(path) ||
      registry.CreateKey(path, platform::reg::kKeyAllAccess, key) != platform::err::kSuccess) {
    SM_DIAG_ERROR(g_logger, diagline::kWriteCreateFailed, "RegCreateKeyEx failed, subkey:" << path);
    return 0;
  }

  const bool sizeFits = value.size() <= std::numeric_limits<std::uint32_t>::max();
  if (!sizeFits || registry.SetValue(key, valueName, platform::reg::kTypeSz, value.data(),
                                     static_cast<std::uint32_t>(value.size())) != platform::err::kSuccess) {
    SM_DIAG_ERROR(g_logger, diagline::kWriteSetFailed, "RegSetValueEx set " << valueName << ": " << value << " failed!");
    registry.CloseKey(key);
    return 0;
  }

  SM_DIAG_DEBUG(g_logger, diagline::kWriteLeave, "leave WriteRegister");
  registry.CloseKey(key);
  return 1;
}

int deleteRegisterItem(HKEY root, const std::string& subKey) {
  std::string path = WorkingPath(subKey);
  platform::Registry& registry = platform::registry();

  // Neither the root (which would take every key of the user with it) nor a
  // path too long to be worked on whole is ever deleted.
  if (!FitsWorkingPath(path) || NamesRoot(path)) {
    SM_DIAG_ERROR(g_logger, diagline::kDeleteOpenFailed, "Error opening key.\n");
    return 0;
  }

  if (registry.DeleteKey(path) == platform::err::kSuccess) return 1;

  platform::KeyHandle key = 0;
  const platform::ErrorCode opened = registry.OpenKey(path, platform::reg::kKeyRead, key);
  if (opened == platform::err::kFileNotFound) {
    SM_DIAG_ERROR(g_logger, diagline::kDeleteKeyNotFound, "Key not found.\n");
    return 1;
  }
  if (opened != platform::err::kSuccess) {
    SM_DIAG_ERROR(g_logger, diagline::kDeleteOpenFailed, "Error opening key.\n");
    return 0;
  }

  if (path.back() != '\\') path += '\\';
  const std::size_t separator = path.size();

  // Each successful deletion removes the subkey at index 0, so index 0 is
  // asked every time. A subkey that is still listed after its deletion
  // reported success would be asked for forever: that ends the loop too.
  std::string previous;
  for (;;) {
    char name[kSubkeyNameSize] = {};
    std::uint32_t size = kSubkeyNameSize;
    if (registry.EnumKey(key, 0, name, size) != platform::err::kSuccess) break;
    const std::string child(name, TextLength(name, std::min(size, kSubkeyNameSize - 1)));
    if (child.empty() || child == previous) break;

    std::string childPath = path.substr(0, separator) + child;
    if (deleteRegisterItem(root, childPath) == 0) break;
    previous = child;
  }

  path.resize(separator - 1);
  registry.CloseKey(key);
  return registry.DeleteKey(path) == platform::err::kSuccess ? 1 : 0;
}

int ReadRegisterKey(HKEY /*root*/, const std::string& subKey, const std::string& valueName, std::string& value) {
  const std::string path = WorkingPath(subKey);

  if (subKey.empty() || valueName.empty()) {
    SM_DIAG_ERROR(g_logger, diagline::kReadMissingParameter, "param is missing, please check!");
    return 0;
  }

  platform::Registry& registry = platform::registry();
  if (!EnableBackupPrivilege()) {
    SM_DIAG_ERROR(g_logger, diagline::kReadNoProcess, "get current process failed");
    return 0;
  }

  // The message quotes the code the failing call answered: registry calls
  // report their failure as their result, not through the thread's last
  // error, which would name some earlier, unrelated failure.
  platform::KeyHandle key = 0;
  platform::ErrorCode code = platform::err::kFilenameExcedRange;
  if (FitsWorkingPath(path)) code = registry.OpenKey(path, platform::reg::kKeyAllAccess, key);
  if (code != platform::err::kSuccess) {
    SM_DIAG_ERROR(g_logger, diagline::kReadOpenFailed, "RegOpenKeyExA failed, subkey:" << path << ", error:"
                                                                  << static_cast<unsigned long>(code));
    return 0;
  }

  char buffer[kReadBufferSize];
  std::uint32_t type = platform::reg::kTypeNone;
  std::uint32_t size = kReadBufferSize;
  code = registry.QueryValue(key, valueName, type, buffer, size);
  if (code != platform::err::kSuccess) {
    SM_DIAG_ERROR(g_logger, diagline::kReadQueryFailed, "RegQueryValueExA " << valueName << " failed!"
                                                     << ", error:" << static_cast<unsigned long>(code));
    registry.CloseKey(key);
    return 0;
  }

  // Values are stored without a terminator; whatever the type, the bytes up
  // to the first zero byte are the text.
  value.assign(buffer, TextLength(buffer, std::min(size, kReadBufferSize)));
  registry.CloseKey(key);
  return 1;
}

}  // namespace DAVeruv
