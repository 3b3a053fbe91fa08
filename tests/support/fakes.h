// In-memory stand-ins for the platform seam, with switches to inject faults.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fakes {

// Case-insensitive (ASCII) ordering, as the registry and Windows paths compare.
struct NoCase {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<unsigned char>(platform::ToLowerAscii(x)) < static_cast<unsigned char>(platform::ToLowerAscii(y));
    });
  }
  static bool Equal(const std::string& a, const std::string& b) { return platform::EqualsIgnoreCase(a, b); }
};

class FakeSystem : public platform::System {
 public:
  std::uint32_t drives = 0;
  platform::LocalTime time{2024, 3, 7, 9, 5, 2, 17};
  std::uint64_t thread = 5124;
  std::string cwd = "/nowhere/";
  bool cwdKnown = true;

  std::vector<std::string> secrets;  // what ProtectSecret was given

  std::uint32_t LogicalDrives() override { return drives; }
  void ProtectSecret(const std::string& secret) override { secrets.push_back(secret); }
  platform::LocalTime LocalTimeNow() override { return time; }
  std::uint64_t CurrentThreadId() override { return thread; }
  bool CurrentDirectory(std::string& out) override {
    if (!cwdKnown) return false;
    out = cwd;
    return true;
  }

  bool failToken = false;
  int tokenCalls = 0;
  bool OpenProcessToken(std::uint32_t, platform::TokenHandle& token) override {
    ++tokenCalls;
    token = 7;
    return !failToken;
  }
  bool EnablePrivilege(platform::TokenHandle, const std::string&) override { return true; }
  void CloseToken(platform::TokenHandle) override {}
};

// A connection table in memory.
class FakeNetwork : public platform::Network {
 public:
  // As Windows answers for one logon session: live connections, and the
  // remembered (persistent) ones of the user's profile, which report 1201
  // while they are not connected and come back at the next logon until a
  // cancellation with CONNECT_UPDATE_PROFILE forgets them. A remembered
  // remote name may be empty, as a third-party provider or a damaged profile
  // can report it.
  std::map<std::string, std::string> connections;  // "E:" -> "\\srv\pub"
  std::map<std::string, std::string> remembered;   // "E:" -> "\\srv\pub"
  std::map<std::string, std::string> volumes;      // "E:" -> volume name
  platform::ErrorCode addResult = platform::err::kSuccess;
  platform::ErrorCode cancelResult = platform::err::kSuccess;
  int addCalls = 0;
  int cancelCalls = 0;
  int getCalls = 0;
  platform::NetResource lastResource;
  std::string lastPassword;
  std::string lastUser;
  std::uint32_t lastFlags = 0;
  std::uint32_t lastCancelFlags = 0;
  bool lastForce = false;
  std::vector<std::string> addedLetters;  // every letter an add was tried on
  // Runs at the start of each add: another process acting in between.
  std::function<void(const platform::NetResource&)> beforeAdd;

  platform::ErrorCode AddConnection(const platform::NetResource& resource, const std::string& password,
                                    const std::string& user, std::uint32_t flags) override {
    ++addCalls;
    addedLetters.push_back(resource.localName);
    if (beforeAdd) beforeAdd(resource);
    lastResource = resource;
    lastPassword = password;
    lastUser = user;
    lastFlags = flags;
    if (addResult != platform::err::kSuccess) return addResult;
    if (resource.localName.empty()) return platform::err::kBadDevice;
    if (connections.count(resource.localName)) return platform::err::kAlreadyAssigned;
    const auto kept = remembered.find(resource.localName);
    if (kept != remembered.end() && kept->second != resource.remoteName) {
      return platform::err::kDeviceAlreadyRemembered;
    }
    connections[resource.localName] = resource.remoteName;
    if (flags & platform::net::kUpdateProfile) remembered[resource.localName] = resource.remoteName;
    return platform::err::kSuccess;
  }
  platform::ErrorCode CancelConnection(const std::string& name, const std::string& remoteName, std::uint32_t flags,
                                       bool force) override {
    ++cancelCalls;
    lastForce = force;
    lastCancelFlags = flags;
    if (cancelResult != platform::err::kSuccess) return cancelResult;
    const auto live = connections.find(name);
    const auto kept = remembered.find(name);
    const bool forget = (flags & platform::net::kUpdateProfile) != 0 && kept != remembered.end();
    const std::string* current = live != connections.end() ? &live->second
                                 : kept != remembered.end() ? &kept->second
                                                            : nullptr;
    if (current == nullptr || (!remoteName.empty() && *current != remoteName)) return platform::err::kNotConnected;
    if (live == connections.end() && !forget) return platform::err::kNotConnected;
    if (live != connections.end()) connections.erase(live);
    if (forget) remembered.erase(kept);
    return platform::err::kSuccess;
  }
  platform::ErrorCode GetConnection(const std::string& localName, char* remoteName, std::uint32_t& length) override {
    ++getCalls;
    if (localName.size() != 2 || localName[1] != ':') return platform::err::kBadDevice;
    platform::ErrorCode code = platform::err::kSuccess;
    auto it = connections.find(localName);
    if (it == connections.end()) {
      it = remembered.find(localName);
      if (it == remembered.end()) return platform::err::kNotConnected;
      code = platform::err::kConnectionUnavail;
    }
    if (it->second.size() + 1 > length) {
      length = static_cast<std::uint32_t>(it->second.size() + 1);
      return platform::err::kMoreData;
    }
    std::memcpy(remoteName, it->second.c_str(), it->second.size() + 1);
    return code;
  }
  bool GetVolumeName(const std::string& root, char* volumeName, std::uint32_t size) override {
    auto it = volumes.find(root);
    if (it == volumes.end() || it->second.size() + 1 > size) return false;
    std::memcpy(volumeName, it->second.c_str(), it->second.size() + 1);
    return true;
  }
};

// A registry in memory: keys by full path (case-insensitive), values per key.
class FakeRegistry : public platform::Registry {
 public:
  std::map<std::string, std::map<std::string, std::string, NoCase>, NoCase> keys;
  std::set<std::string, NoCase> failDelete;  // paths whose deletion fails
  bool failCreate = false;
  int calls = 0;

  platform::ErrorCode CreateKey(const std::string& path, std::uint32_t, platform::KeyHandle& key) override {
    ++calls;
    if (failCreate) return platform::err::kAccessDenied;
    for (std::size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
      keys[path.substr(0, at)];
    }
    keys[path];
    return Open(path, key);
  }
  platform::ErrorCode OpenKey(const std::string& path, std::uint32_t, platform::KeyHandle& key) override {
    ++calls;
    if (!keys.count(path)) return platform::err::kFileNotFound;
    return Open(path, key);
  }
  platform::ErrorCode SetValue(platform::KeyHandle key, const std::string& name, std::uint32_t, const char* data,
                               std::uint32_t size) override {
    ++calls;
    keys[handles_.at(key)][name] = std::string(data, size);
    return platform::err::kSuccess;
  }
  platform::ErrorCode QueryValue(platform::KeyHandle key, const std::string& name, std::uint32_t& type, char* buffer,
                                 std::uint32_t& size) override {
    ++calls;
    auto& values = keys[handles_.at(key)];
    auto it = values.find(name);
    if (it == values.end()) return platform::err::kFileNotFound;
    type = platform::reg::kTypeSz;
    if (it->second.size() > size) {
      size = static_cast<std::uint32_t>(it->second.size());
      return platform::err::kMoreData;
    }
    std::memcpy(buffer, it->second.data(), it->second.size());
    size = static_cast<std::uint32_t>(it->second.size());
    return platform::err::kSuccess;
  }
  platform::ErrorCode EnumKey(platform::KeyHandle key, std::uint32_t index, char* name, std::uint32_t& size) override {
    ++calls;
    const std::string parent = handles_.at(key) + "\\";
    std::uint32_t seen = 0;
    for (const auto& entry : keys) {
      const std::string& path = entry.first;
      if (path.size() <= parent.size() || !NoCase::Equal(path.substr(0, parent.size()), parent)) continue;
      if (path.find('\\', parent.size()) != std::string::npos) continue;
      if (seen++ != index) continue;
      const std::string child = path.substr(parent.size());
      if (child.size() + 1 > size) return platform::err::kMoreData;
      std::memcpy(name, child.c_str(), child.size() + 1);
      size = static_cast<std::uint32_t>(child.size());
      return platform::err::kSuccess;
    }
    return platform::err::kNoMoreItems;
  }
  platform::ErrorCode DeleteKey(const std::string& path) override {
    ++calls;
    if (failDelete.count(path)) return platform::err::kAccessDenied;
    if (!keys.count(path)) return platform::err::kFileNotFound;
    const std::string prefix = path + "\\";
    for (const auto& entry : keys) {
      if (entry.first.size() > prefix.size() && NoCase::Equal(entry.first.substr(0, prefix.size()), prefix)) {
        return platform::err::kAccessDenied;
      }
    }
    keys.erase(path);
    return platform::err::kSuccess;
  }
  platform::ErrorCode CloseKey(platform::KeyHandle key) override {
    ++calls;
    handles_.erase(key);
    return platform::err::kSuccess;
  }

  // Groups change nothing here, as on Windows; they are counted.
  platform::ErrorCode beginGroupResult = platform::err::kSuccess;
  int groupsBegun = 0, groupsEnded = 0;
  bool lastGroupWrites = false;
  platform::ErrorCode BeginGroup(bool write) override {
    lastGroupWrites = write;
    groupsBegun += beginGroupResult == platform::err::kSuccess;
    return beginGroupResult;
  }
  platform::ErrorCode EndGroup() override {
    ++groupsEnded;
    return platform::err::kSuccess;
  }

  bool HasValue(const std::string& path, const std::string& name) const {
    auto it = keys.find(path);
    return it != keys.end() && it->second.count(name) != 0;
  }
  std::size_t OpenHandles() const { return handles_.size(); }

  // Every key that holds values: its path, then "  name = value" per value,
  // in the registry's (case-insensitive) order.
  std::string Listing() const {
    std::string out;
    for (const auto& key : keys) {
      if (key.second.empty()) continue;
      out += key.first + "\n";
      for (const auto& value : key.second) out += "  " + value.first + " = " + value.second + "\n";
    }
    return out;
  }

 private:
  platform::ErrorCode Open(const std::string& path, platform::KeyHandle& key) {
    key = next_++;
    handles_[key] = keys.find(path)->first;
    return platform::err::kSuccess;
  }
  std::map<platform::KeyHandle, std::string> handles_;
  platform::KeyHandle next_ = 100;
};

// A directory tree in memory, Windows style paths ("E:\$RECYCLE.BIN\x").
// Its calls may come from several threads at once.
class FakeFiles : public platform::Files {
 public:
  using Code = platform::ErrorCode;
  struct Node {
    std::uint32_t attributes = 0;
    std::uint64_t fileId = 0;    // 0: none given
    std::uint64_t parentId = 0;  // what its ".." shows; 0: the folder above
  };
  std::map<std::string, Node, NoCase> nodes;  // full path -> node
  std::vector<std::string> removed;           // in order of removal
  std::vector<std::string> listed;            // directories listed
  std::set<std::string, NoCase> failRemove;
  // A listing fails with this code once it has begun (0: never).
  Code failListing = platform::err::kSuccess;
  // The server answers this many calls, then none: each later call fails
  // with `unansweredCode` and is counted.
  std::size_t answeredCalls = static_cast<std::size_t>(-1);
  std::size_t unansweredCalls = 0;
  Code unansweredCode = platform::err::kSemTimeout;
  unsigned overlap = 8;             // what Overlap() answers
  std::size_t mostAtOnce = 0;       // the most calls seen under way at once

  void AddDir(const std::string& path, std::uint32_t extra = 0) {
    nodes[path].attributes = platform::attr::kDirectory | extra;
  }
  void AddFile(const std::string& path, std::uint32_t attributes = platform::attr::kArchive) {
    nodes[path].attributes = attributes;
  }
  bool Exists(const std::string& path) const { return nodes.count(path) != 0; }

  Code Access(const std::string& path, int) override {
    Call call(*this);
    if (Unanswered()) return unansweredCode;
    return Exists(path) ? platform::err::kSuccess : platform::err::kFileNotFound;
  }
  // Only the last component is made; a drive's root ("E:") always exists.
  Code MakeDirectory(const std::string& path) override {
    Call call(*this);
    if (Exists(path)) return platform::err::kAlreadyExists;
    const std::size_t cut = path.find_last_of('\\');
    if (cut != std::string::npos && cut > 2 && !Exists(path.substr(0, cut))) return platform::err::kPathNotFound;
    AddDir(path);
    return platform::err::kSuccess;
  }
  Code SetAttributes(const std::string& path, std::uint32_t attributes) override {
    Call call(*this);
    if (Unanswered()) return unansweredCode;
    auto it = nodes.find(path);
    if (it == nodes.end()) return platform::err::kFileNotFound;
    const std::uint32_t keep = it->second.attributes & (platform::attr::kDirectory | platform::attr::kReparsePoint);
    it->second.attributes = (attributes & ~platform::attr::kNormal) | keep;
    return platform::err::kSuccess;
  }
  Code RemoveFile(const std::string& path) override {
    Call call(*this);
    if (Unanswered()) return unansweredCode;
    auto it = nodes.find(path);
    if (it == nodes.end()) return platform::err::kFileNotFound;
    if (failRemove.count(path) || (it->second.attributes & platform::attr::kReadOnly)) {
      return platform::err::kAccessDenied;
    }
    if ((it->second.attributes & platform::attr::kDirectory) && !(it->second.attributes & platform::attr::kReparsePoint)) {
      return platform::err::kAccessDenied;
    }
    nodes.erase(it);
    removed.push_back(path);
    return platform::err::kSuccess;
  }
  Code RemoveDir(const std::string& path) override {
    Call call(*this);
    if (Unanswered()) return unansweredCode;
    auto it = nodes.find(path);
    if (it == nodes.end()) return platform::err::kFileNotFound;
    if (failRemove.count(path) || !(it->second.attributes & platform::attr::kDirectory)) {
      return platform::err::kAccessDenied;
    }
    // A directory link goes without its target's contents; a real directory
    // must be empty.
    if (!(it->second.attributes & platform::attr::kReparsePoint)) {
      const std::string prefix = path + "\\";
      for (const auto& node : nodes) {
        if (node.first.size() > prefix.size() && NoCase::Equal(node.first.substr(0, prefix.size()), prefix)) {
          return platform::err::kDirNotEmpty;
        }
      }
    }
    nodes.erase(path);
    removed.push_back(path);
    return platform::err::kSuccess;
  }
  unsigned Overlap() override { return overlap; }
  // The log's file is never in the fake tree: the log is off.
  std::unique_ptr<std::streambuf> OpenLogFile(const std::string&) override { return nullptr; }
  Code ListFileIds(const std::string& dir, std::vector<platform::FileIdEntry>& entries) override {
    Call call(*this);
    entries.clear();
    if (Unanswered()) return unansweredCode;
    auto it = nodes.find(dir);
    if (it == nodes.end() || !(it->second.attributes & platform::attr::kDirectory)) {
      return platform::err::kPathNotFound;
    }
    listed.push_back(dir);
    if (failListing != platform::err::kSuccess) return failListing;
    std::uint64_t parentId = it->second.parentId;
    const std::size_t cut = dir.find_last_of('\\');
    if (parentId == 0 && cut != std::string::npos) {
      auto above = nodes.find(dir.substr(0, cut));
      if (above == nodes.end()) above = nodes.find(dir.substr(0, cut + 1));  // "E:\\"
      if (above != nodes.end()) parentId = above->second.fileId;
    }
    entries.push_back({platform::attr::kDirectory, 0, it->second.fileId, "."});
    entries.push_back({platform::attr::kDirectory, 0, parentId, ".."});
    const std::string prefix = dir.back() == '\\' ? dir : dir + "\\";
    for (const auto& node : nodes) {
      const std::string& path = node.first;
      if (path.size() > prefix.size() && NoCase::Equal(path.substr(0, prefix.size()), prefix) &&
          path.find('\\', prefix.size()) == std::string::npos) {
        entries.push_back({node.second.attributes, 0, node.second.fileId, path.substr(prefix.size())});
      }
    }
    return platform::err::kSuccess;
  }

 private:
  // One call: the tree is the fake's alone while it runs, and the calls
  // under way are counted.
  struct Call {
    explicit Call(FakeFiles& files) : files_(files) {
      const std::size_t now = ++files_.underWay_;
      lock_ = std::unique_lock<std::mutex>(files_.mutex_);
      if (now > files_.mostAtOnce) files_.mostAtOnce = now;
    }
    ~Call() { --files_.underWay_; }
    FakeFiles& files_;
    std::unique_lock<std::mutex> lock_;
  };
  bool Unanswered() {
    if (answeredCalls != 0) {
      --answeredCalls;
      return false;
    }
    ++unansweredCalls;
    return true;
  }
  std::mutex mutex_;
  std::atomic<std::size_t> underWay_{0};
};

class FakeText : public platform::Text {
 public:
  // Code page 437 for the bytes the tests use; others pass through, up to
  // the first zero byte.
  std::string OemToUtf8(const std::string& text) override {
    std::string out;
    for (unsigned char c : text.substr(0, text.find('\0'))) {
      if (c == 0x82) {
        out += "\xC3\xA9";  // é
      } else if (c == 0x81) {
        out += "\xC3\xBC";  // ü
      } else {
        out += static_cast<char>(c);
      }
    }
    return out;
  }
};

// Standard output: records each piece written, with its encoding.
class FakeConsole : public platform::Console {
 public:
  struct Piece {
    std::string text;
    platform::Encoding encoding;
  };
  std::vector<Piece> pieces;
  platform::ErrorCode result = platform::err::kSuccess;  // what every write answers

  platform::ErrorCode WriteOutput(const std::string& text, platform::Encoding encoding) override {
    pieces.push_back({text, encoding});
    return result;
  }
  // Everything written, in order.
  std::string Written() const {
    std::string all;
    for (const Piece& piece : pieces) all += piece.text;
    return all;
  }
};

// Installs fakes for the life of a test and puts the previous ones back;
// with `realFiles` the files concern stays the real one.
struct Installed {
  FakeSystem system;
  FakeNetwork network;
  FakeRegistry registry;
  FakeFiles files;
  FakeText text;
  FakeConsole console;
  explicit Installed(bool realFiles = false)
      : override_(&system, &network, &registry, realFiles ? nullptr : &files, &text, &console) {}

 private:
  platform::Override override_;
};

}  // namespace fakes
