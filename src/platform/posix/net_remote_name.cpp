#include "platform/posix/net_remote_name.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

#include "platform/files.h"

namespace platform {
namespace posix {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasControl(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// Characters Windows does not allow in a file or share name.
bool HasForbidden(const std::string& text, bool allowWildcards) {
  return text.find_first_of(allowWildcards ? "<>:\"|" : "<>:\"|*?") != std::string::npos;
}

bool IsHostChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

std::vector<std::string> SplitComponents(const std::string& text, std::size_t start) {
  std::vector<std::string> parts;
  std::string current;
  for (std::size_t i = start; i < text.size(); ++i) {
    if (IsSeparator(text[i])) {
      parts.push_back(current);
      current.clear();
    } else {
      current += text[i];
    }
  }
  parts.push_back(current);
  return parts;
}

}  // namespace

ErrorCode ParseRemoteName(const std::string& text, RemoteName& out) {
  out = RemoteName();
  if (text.size() + 1 > kMaxPath) return err::kFilenameExcedRange;
  if (text.size() < 2 || !IsSeparator(text[0]) || !IsSeparator(text[1])) return err::kBadNetPath;

  std::vector<std::string> parts = SplitComponents(text, 2);
  // parts[0] is the host; it must follow the two separators directly.
  const std::string& host = parts[0];
  if (host.empty()) return err::kBadNetPath;
  // A host made only of dots is no name.
  if (!std::all_of(host.begin(), host.end(), IsHostChar) || host.find_first_not_of('.') == std::string::npos) {
    return err::kBadNetPath;
  }

  std::vector<std::string> rest;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty() || part == ".") continue;
    if (part == ".." || HasControl(part) || HasForbidden(part, false)) return err::kBadNetName;
    rest.push_back(part);
  }
  if (rest.empty()) return err::kBadNetName;

  out.host = host;
  out.share = rest[0];
  out.components.assign(rest.begin() + 1, rest.end());
  return err::kSuccess;
}

char DriveLetterOf(const std::string& name) {
  return name.size() == 2 && IsDrivePath(name) ? ToUpperAscii(name[0]) : 0;
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

bool IsDrivePath(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return false;
  unsigned char c = static_cast<unsigned char>(path[0]);
  if (c > 0x7F || !std::isalpha(c)) return false;
  return path.size() == 2 || IsSeparator(path[2]);
}

bool ParseDrivePath(const std::string& path, bool lastMayBePattern, char& letter,
                    std::vector<std::string>& components, ErrorCode& error) {
  components.clear();
  error = err::kSuccess;
  if (!IsDrivePath(path)) return false;
  letter = ToUpperAscii(path[0]);
  if (path.size() == 2) return true;

  std::vector<std::string> parts = SplitComponents(path, 3);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    bool last = i + 1 == parts.size();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!components.empty()) components.pop_back();
      continue;
    }
    if (HasControl(part) || HasForbidden(part, last && lastMayBePattern)) {
      error = err::kInvalidName;
      components.clear();
      return false;
    }
    components.push_back(part);
  }
  return true;
}

}  // namespace posix
}  // namespace platform
