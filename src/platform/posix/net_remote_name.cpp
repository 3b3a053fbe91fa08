#include "platform/posix/net_remote_name.h"

#include <algorithm>
#include <cctype>

#include "platform/files.h"

namespace platform {
namespace posix {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasControl(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool IsHostChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// Splits `text` from `start` on at every separator into `parts`, leaving
// out empty parts and "."; a ".." takes the part before it away when
// `dotDotGoesUp`. False at a part that is ".." otherwise, or that holds a
// control character or a character Windows does not allow in a name.
bool SplitParts(const std::string& text, std::size_t start, bool dotDotGoesUp, std::vector<std::string>& parts) {
  parts.clear();
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find_first_of("\\/", start), text.size());
    const std::string part = text.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == ".." && dotDotGoesUp) {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    if (part == ".." || HasControl(part) || part.find_first_of("<>:\"|*?") != std::string::npos) return false;
    parts.push_back(part);
  }
  return true;
}

}  // namespace

ErrorCode ParseRemoteName(const std::string& text, RemoteName& out) {
  out = RemoteName();
  if (text.size() + 1 > kMaxPath) return err::kFilenameExcedRange;
  if (text.size() < 2 || !IsSeparator(text[0]) || !IsSeparator(text[1])) return err::kBadNetPath;
  // The host follows the two separators directly; one made only of dots is
  // no name.
  const std::size_t end = std::min(text.find_first_of("\\/", 2), text.size());
  const std::string host = text.substr(2, end - 2);
  if (!std::all_of(host.begin(), host.end(), IsHostChar) || host.find_first_not_of('.') == std::string::npos) {
    return err::kBadNetPath;
  }
  std::vector<std::string> parts;
  if (!SplitParts(text, end + 1, false, parts) || parts.empty()) return err::kBadNetName;
  out.host = host;
  out.share = parts[0];
  out.components.assign(parts.begin() + 1, parts.end());
  return err::kSuccess;
}

bool ParseAccount(const std::string& text, Account& out) {
  out = Account();
  if (HasControl(text)) return false;
  std::size_t slash = text.find('\\');
  if (slash == std::string::npos) {
    out.user = text;
  } else {
    out.domain = text.substr(0, slash);
    out.user = text.substr(slash + 1);
    if (out.user.find('\\') != std::string::npos) return false;
  }
  return !out.user.empty();
}

char DriveLetterOf(const std::string& name) {
  return name.size() == 2 && IsDrivePath(name) ? ToUpperAscii(name[0]) : 0;
}

bool IsDrivePath(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return false;
  unsigned char c = static_cast<unsigned char>(path[0]);
  if (c > 0x7F || !std::isalpha(c)) return false;
  return path.size() == 2 || IsSeparator(path[2]);
}

bool ParseDrivePath(const std::string& path, char& letter, std::vector<std::string>& components, ErrorCode& error) {
  components.clear();
  error = err::kSuccess;
  if (!IsDrivePath(path)) return false;
  letter = ToUpperAscii(path[0]);
  if (SplitParts(path, 3, true, components)) return true;
  error = err::kInvalidName;
  components.clear();
  return false;
}

std::string EncodeUrlSegment(const std::string& segment) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(segment.size());
  for (unsigned char c : segment) {
    if ((std::isalnum(c) && c < 0x80) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

std::string BuildSmbUrl(const std::string& host, const std::string& share,
                        const std::vector<std::string>& components) {
  std::string url = "smb://" + EncodeUrlSegment(host) + "/" + EncodeUrlSegment(share);
  for (const std::string& part : components) {
    url += '/';
    url += EncodeUrlSegment(part);
  }
  return url;
}

}  // namespace posix
}  // namespace platform
