// Parsing of Windows network names ("\\host\share\sub", "E:", "DOMAIN\user")
// and the building of smb:// URLs from them. Nothing here touches the
// network; every name is checked before any part of it is used.
#pragma once

#include <string>
#include <vector>

#include "platform/errors.h"

namespace platform {
namespace posix {

// A remote name split into its parts. `components` are the folders below the
// share, in order, already checked (no ".." and nothing unsafe).
struct RemoteName {
  std::string host;
  std::string share;
  std::vector<std::string> components;
};

// Splits "\\host\share[\path...]" ("/" is accepted as a separator too, as
// Windows does). Returns 0 or the Windows number that WNetAddConnection2A
// gives for such a name:
//   kFilenameExcedRange (206)  the name is 260 characters or longer
//   kBadNetPath (53)           no leading "\\", an empty host, or a host that
//                              holds anything but letters, digits, '-', '.'
//                              and '_' (so no port syntax, user info, IPv6
//                              literal or path characters ever reach the
//                              SMB library)
//   kBadNetName (67)           no share, or a share or folder name that is
//                              "..", holds control characters or a character
//                              Windows forbids in names (<>:"|?*)
// Empty components and "." are dropped, as Windows does.
ErrorCode ParseRemoteName(const std::string& text, RemoteName& out);

// The drive letter of "E:" (either case), upper-cased; 0 when `name` is not
// exactly a letter and a colon.
char DriveLetterOf(const std::string& name);

// An account "DOMAIN\user" or "user" split into its parts.
struct Account {
  std::string domain;
  std::string user;
};
// Returns false when the user part is empty or either part holds control
// characters or a second backslash.
bool ParseAccount(const std::string& text, Account& out);

// Percent-encodes one URL path segment: every byte but A-Z a-z 0-9 - . _ ~
// becomes %XX, so '/', '?', '%', '@', ';' and spaces never change the
// meaning of the URL.
std::string EncodeUrlSegment(const std::string& segment);

// "smb://host/share/comp1/comp2", each part encoded. `host` must already be
// checked (ParseRemoteName) or be a numeric address.
std::string BuildSmbUrl(const std::string& host, const std::string& share,
                        const std::vector<std::string>& components);

// A path on a mapped drive ("E:\dir\file", "E:", "E:\") split into the drive
// letter and the components below the drive's root. "." is dropped and ".."
// removes the component before it, but never climbs above the root (as
// Windows treats such paths). When `lastMayBePattern` is true the last
// component may hold the wildcards '*' and '?'.
//   true   `letter` and `components` are set
//   false  `error` tells why: 0 when the path is not a drive path at all
//          (no letter and colon at its start), kInvalidName (123) when a
//          component holds a control character or a forbidden character
bool ParseDrivePath(const std::string& path, bool lastMayBePattern, char& letter,
                    std::vector<std::string>& components, ErrorCode& error);

// True when `path` starts with a drive: a letter followed by ':' and then the end
// of the text or a separator.
bool IsDrivePath(const std::string& path);

// Case-insensitive (ASCII) comparison of two texts.
bool EqualsIgnoreCase(const std::string& a, const std::string& b);
std::string ToLowerAscii(std::string text);

}  // namespace posix
}  // namespace platform
