#include "win32_support.h"

#include "platform/win32/windows_api.h"

namespace win32test {

std::string UnusedDrive() {
  const DWORD used = ::GetLogicalDrives();
  for (int letter = 'Y'; letter >= 'D'; --letter) {
    if ((used & (1u << (letter - 'A'))) == 0) return std::string(1, static_cast<char>(letter)) + ":";
  }
  return std::string();
}

}  // namespace win32test
