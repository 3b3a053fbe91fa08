// Windows implementation of the network concern: drive connections through
// the multiple provider router (MPR) and volume names through KERNEL32.
#include <cstring>
#include <string>

#include "platform/network.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// Longer than any remote name the program connects (MAX_PATH) with room over.
constexpr DWORD kMaxRemoteName = 1024;

class WinNetwork : public Network {
 public:
  ErrorCode AddConnection(const NetResource& resource, const std::string& password,
                          const std::string& user, std::uint32_t flags) override {
    // Without a local name the system makes a connection that no drive letter
    // refers to, and reports success; a caller here always wants a letter.
    if (resource.localName.empty()) return err::kBadDevice;

    // NETRESOURCEA takes writable strings; hand it copies.
    std::string localName = resource.localName;
    std::string remoteName = resource.remoteName;
    NETRESOURCEA description{};
    description.dwScope = static_cast<DWORD>(resource.scope);
    description.dwType = static_cast<DWORD>(resource.type);
    description.dwDisplayType = static_cast<DWORD>(resource.displayType);
    description.dwUsage = static_cast<DWORD>(resource.usage);
    description.lpLocalName = &localName[0];
    description.lpRemoteName = &remoteName[0];
    description.lpComment = nullptr;
    description.lpProvider = nullptr;
    // Password and account always go as texts: a null password would mean
    // the default password, a null account the logged-on user's name.
    return static_cast<ErrorCode>(::WNetAddConnection2A(&description, password.c_str(),
                                                        user.c_str(), static_cast<DWORD>(flags)));
  }

  // The registry has no transaction and MPR no conditional cancellation: the
  // remote name is checked right before the call, which leaves a window of
  // one call for another process to replace the connection (README).
  ErrorCode CancelConnection(const std::string& localName, const std::string& remoteName, std::uint32_t flags,
                             bool force) override {
    if (!remoteName.empty()) {
      std::string current(kMaxRemoteName, '\0');
      DWORD size = kMaxRemoteName;
      const DWORD status = ::WNetGetConnectionA(localName.c_str(), &current[0], &size);
      if (status != NO_ERROR && status != ERROR_CONNECTION_UNAVAIL && status != ERROR_MORE_DATA) {
        return static_cast<ErrorCode>(status);
      }
      current.resize(status == ERROR_MORE_DATA ? 0 : std::strlen(current.c_str()));
      if (current != remoteName) return err::kNotConnected;
    }
    return static_cast<ErrorCode>(
        ::WNetCancelConnection2A(localName.c_str(), static_cast<DWORD>(flags), force ? TRUE : FALSE));
  }

  ErrorCode GetConnection(const std::string& localName, char* remoteName,
                          std::uint32_t& length) override {
    DWORD size = static_cast<DWORD>(length);
    const DWORD status = ::WNetGetConnectionA(localName.c_str(), remoteName, &size);
    length = static_cast<std::uint32_t>(size);
    return static_cast<ErrorCode>(status);
  }

  bool GetVolumeName(const std::string& root, char* volumeName, std::uint32_t size) override {
    if (volumeName == nullptr || size == 0) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    // The system wants the root with its trailing backslash ("E:\",
    // "\\host\share\"); callers name a drive as "E:", so complete it here.
    std::string path = root;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    volumeName[0] = '\0';
    if (!::GetVolumeInformationA(path.c_str(), volumeName, static_cast<DWORD>(size), nullptr,
                                 nullptr, nullptr, nullptr, 0)) {
      volumeName[0] = '\0';
      return false;
    }
    volumeName[size - 1] = '\0';
    return true;
  }
};

}  // namespace

Network& RealNetwork() {
  static WinNetwork instance;
  return instance;
}

}  // namespace platform
