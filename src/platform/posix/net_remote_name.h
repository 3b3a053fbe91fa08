// Windows network names ("\\host\share\sub", "E:\dir", "DOMAIN\user"),
// checked before any part of them is used, and the smb:// URLs made of them.
#pragma once

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"

namespace platform {
namespace posix {

struct RemoteName {
  std::string host;
  std::string share;
  std::vector<std::string> components;  // the folders below the share, checked
};

// Splits "\\host\share[\path...]" ("/" separates too), leaving out empty
// parts and ".": 0, or as WNetAddConnection2A answers 206 (260 characters
// or more), 53 (no leading "\\", or a host of anything but letters, digits,
// '-', '.' and '_') or 67 (no share, or a part that is "..", holds a control
// character or one of <>:"|?*).
ErrorCode ParseRemoteName(const std::string& text, RemoteName& out);

struct Account {
  std::string domain;
  std::string user;
};
// Splits "DOMAIN\user" or "user"; false when the user part is empty or
// either part holds control characters or a second backslash.
bool ParseAccount(const std::string& text, Account& out);

// The drive letter of exactly "E:" (either case), upper-cased; else 0.
char DriveLetterOf(const std::string& name);
// True when `path` starts with a letter, ':' and then a separator or the end.
bool IsDrivePath(const std::string& path);
// A path on a mapped drive ("E:\dir\file", "E:", "E:\") split into the drive
// letter and the components below its root ("." dropped, ".." never above
// the root). False with `error` 0 for no drive path, 123 for a forbidden
// character.
bool ParseDrivePath(const std::string& path, char& letter, std::vector<std::string>& components, ErrorCode& error);

// Percent-encodes one URL path segment: every byte but A-Z a-z 0-9 - . _ ~.
std::string EncodeUrlSegment(const std::string& segment);
// "smb://host/share/comp1/comp2", each part encoded. `host` must already be
// checked (ParseRemoteName) or be a numeric address.
std::string BuildSmbUrl(const std::string& host, const std::string& share,
                        const std::vector<std::string>& components);

}  // namespace posix
}  // namespace platform
