// Windows error numbers, the result codes of every platform operation.
// The Windows layer passes the system's own numbers through; the POSIX
// layer maps its failures onto the same numbers so callers see one vocabulary.
#pragma once

#include <cstdint>

namespace platform {

using ErrorCode = std::uint32_t;

namespace err {
constexpr ErrorCode kSuccess = 0;                      // NO_ERROR / ERROR_SUCCESS
constexpr ErrorCode kFileNotFound = 2;                 // ERROR_FILE_NOT_FOUND
constexpr ErrorCode kPathNotFound = 3;                 // ERROR_PATH_NOT_FOUND
constexpr ErrorCode kAccessDenied = 5;                 // ERROR_ACCESS_DENIED
constexpr ErrorCode kInvalidHandle = 6;                // ERROR_INVALID_HANDLE
constexpr ErrorCode kNotEnoughMemory = 8;              // ERROR_NOT_ENOUGH_MEMORY
constexpr ErrorCode kSharingViolation = 32;            // ERROR_SHARING_VIOLATION
constexpr ErrorCode kRemoteNotListening = 51;         // ERROR_REM_NOT_LIST
constexpr ErrorCode kBadNetPath = 53;                  // ERROR_BAD_NETPATH
constexpr ErrorCode kNetworkBusy = 54;                 // ERROR_NETWORK_BUSY
constexpr ErrorCode kDeviceGone = 55;                  // ERROR_DEV_NOT_EXIST
constexpr ErrorCode kUnexpectedNetworkError = 59;      // ERROR_UNEXP_NET_ERR
constexpr ErrorCode kBadNetResponse = 58;              // ERROR_BAD_NET_RESP
constexpr ErrorCode kNetNameDeleted = 64;              // ERROR_NETNAME_DELETED
constexpr ErrorCode kBadDevType = 66;                  // ERROR_BAD_DEV_TYPE
constexpr ErrorCode kBadNetName = 67;                  // ERROR_BAD_NET_NAME
constexpr ErrorCode kAlreadyAssigned = 85;             // ERROR_ALREADY_ASSIGNED
constexpr ErrorCode kInvalidParameter = 87;            // ERROR_INVALID_PARAMETER
constexpr ErrorCode kDiskFull = 112;                   // ERROR_DISK_FULL
constexpr ErrorCode kSemTimeout = 121;                 // ERROR_SEM_TIMEOUT
constexpr ErrorCode kInvalidName = 123;                // ERROR_INVALID_NAME
constexpr ErrorCode kDirNotEmpty = 145;                // ERROR_DIR_NOT_EMPTY
constexpr ErrorCode kBusy = 170;                       // ERROR_BUSY
constexpr ErrorCode kAlreadyExists = 183;              // ERROR_ALREADY_EXISTS
constexpr ErrorCode kFilenameExcedRange = 206;         // ERROR_FILENAME_EXCED_RANGE
constexpr ErrorCode kNoData = 232;                     // ERROR_NO_DATA (a pipe whose reader is gone)
constexpr ErrorCode kMoreData = 234;                   // ERROR_MORE_DATA
constexpr ErrorCode kVirtualCircuitClosed = 240;       // ERROR_VC_DISCONNECTED
constexpr ErrorCode kNoMoreItems = 259;                // ERROR_NO_MORE_ITEMS
constexpr ErrorCode kBadDb = 1009;                     // ERROR_BADDB
constexpr ErrorCode kCantOpen = 1011;                  // ERROR_CANTOPEN
constexpr ErrorCode kCantRead = 1012;                  // ERROR_CANTREAD
constexpr ErrorCode kCantWrite = 1013;                 // ERROR_CANTWRITE
constexpr ErrorCode kRegistryIoFailed = 1016;          // ERROR_REGISTRY_IO_FAILED
constexpr ErrorCode kKeyDeleted = 1018;                // ERROR_KEY_DELETED
constexpr ErrorCode kBadDevice = 1200;                 // ERROR_BAD_DEVICE
constexpr ErrorCode kConnectionUnavail = 1201;         // ERROR_CONNECTION_UNAVAIL
constexpr ErrorCode kDeviceAlreadyRemembered = 1202;   // ERROR_DEVICE_ALREADY_REMEMBERED
constexpr ErrorCode kSessionCredentialConflict = 1219; // ERROR_SESSION_CREDENTIAL_CONFLICT
constexpr ErrorCode kNoNetwork = 1222;                 // ERROR_NO_NETWORK
constexpr ErrorCode kConnectionRefused = 1225;         // ERROR_CONNECTION_REFUSED
constexpr ErrorCode kNetworkUnreachable = 1231;        // ERROR_NETWORK_UNREACHABLE
constexpr ErrorCode kHostUnreachable = 1232;           // ERROR_HOST_UNREACHABLE
constexpr ErrorCode kPortUnreachable = 1234;           // ERROR_PORT_UNREACHABLE
constexpr ErrorCode kConnectionAborted = 1236;         // ERROR_CONNECTION_ABORTED
constexpr ErrorCode kLogonFailure = 1326;              // ERROR_LOGON_FAILURE
constexpr ErrorCode kTimeout = 1460;                   // ERROR_TIMEOUT
constexpr ErrorCode kNotConnected = 2250;              // ERROR_NOT_CONNECTED
}  // namespace err

}  // namespace platform
