// Parsing of Windows network names ("\\host\share\sub", "E:", "DOMAIN\user")
// and the building of smb:// URLs from them; every name is checked before
// any part of it is used.
#pragma once

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"

namespace platform {
namespace posix {

// A remote name split into its parts. `components` are the folders below the
// share, in order, already checked (no ".." and nothing unsafe).
struct RemoteName {
  std::string host;
  std::string share;
  std::vector<std::string> components;
};

// Splits "\\host\share[\path...]" ("/" separates too): 0, or as
// WNetAddConnection2A answers 206 (260 characters or more), 53 (no leading
// "\\", or a host of anything but letters, digits, '-', '.' and '_') or 67
// (no share, or a name that is "..", holds a control character or one of
// <>:"|?*). Empty components and "." are dropped.
ErrorCode ParseRemoteName(const std::string& text, RemoteName& out);

// The drive letter of "E:" (either case), upper-cased; 0 when `name` is not
// exactly a letter and a colon.
char DriveLetterOf(const std::string& name);

// An account "DOMAIN\user" or "user" split into its parts.
struct Account {
  std::string domain;
  std::string user;
};
// False when the user part is empty or either part holds control
// characters or a second backslash.
bool ParseAccount(const std::string& text, Account& out);

// Percent-encodes one URL path segment: every byte but A-Z a-z 0-9 - . _ ~.
std::string EncodeUrlSegment(const std::string& segment);

// "smb://host/share/comp1/comp2", each part encoded. `host` must already be
// checked (ParseRemoteName) or be a numeric address.
std::string BuildSmbUrl(const std::string& host, const std::string& share,
                        const std::vector<std::string>& components);

// A path on a mapped drive ("E:\dir\file", "E:", "E:\") split into the drive
// letter and the components below its root ("." dropped, ".." never above
// the root); the last may hold '*' and '?' when `lastMayBePattern`. False
// with `error` 0 for no drive path, 123 for a forbidden character.
bool ParseDrivePath(const std::string& path, bool lastMayBePattern, char& letter,
                    std::vector<std::string>& components, ErrorCode& error);

// True when `path` starts with a letter, ':' and then a separator or the end.
bool IsDrivePath(const std::string& path);

}  // namespace posix
}  // namespace platform
