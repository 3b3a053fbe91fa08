#include "disk/recycle_bin.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace VkSharemapper {
namespace {

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '\\') return dir + name;
  return dir + "\\" + name;
}

bool FitsMaxPath(const std::string& path) { return path.size() + 1 <= platform::kMaxPath; }

// What the server said a failed call met: it stopped answering in time, or
// the connection to it is gone. Every further call would wait as long again.
bool IsNetworkFailure(platform::ErrorCode code) {
  namespace err = platform::err;
  switch (code) {
    case err::kBadNetPath:
    case err::kNetworkBusy:
    case err::kUnexpectedNetworkError:
    case err::kBadNetResponse:
    case err::kNetNameDeleted:
    case err::kSemTimeout:
    case err::kTimeout:
    case err::kConnectionUnavail:
    case err::kNotConnected:
    case 51:    // ERROR_REM_NOT_LIST
    case 1231:  // ERROR_NETWORK_UNREACHABLE
    case 1236:  // ERROR_CONNECTION_ABORTED
      return true;
    default:
      return false;
  }
}

// A folder as its own listing names it: its file id ("."), its parent's
// (".."), and those of its entries. An id of 0 is one the server did not
// give.
struct FolderIds {
  std::uint64_t self = 0;
  std::uint64_t parent = 0;
  std::vector<platform::FileIdEntry> entries;

  std::uint64_t IdOf(const std::string& name) const {
    for (const platform::FileIdEntry& entry : entries) {
      if (entry.name == name) return entry.fileId;
    }
    return 0;
  }

  // Whether another entry than `name` has the file id `id`.
  bool Shared(const std::string& name, std::uint64_t id) const {
    for (const platform::FileIdEntry& entry : entries) {
      if (entry.fileId == id && !platform::EqualsIgnoreCase(entry.name, name)) return true;
    }
    return false;
  }
};

// One removal of a tree. A server may follow a symbolic link for its
// clients and show it as a plain folder, with the file id of the folder it
// leads to; walking into it would empty that folder. Such an entry is told
// by its ids: it has the id of the folder it sits in, of one above, or of
// another entry beside it (one folder has one name), or its listing names a
// parent other than the folder it was found in. The walk never enters such
// a folder and leaves it in place; when no id is given, folders are walked
// as they are listed.
//
// The first call that meets a server that no longer answers ends the walk:
// each further call would only wait for its own timeout.
class TreeWalk {
 public:
  explicit TreeWalk(platform::Files& files) : files_(files) {}

  bool Tree(const std::string& path) {
    const std::size_t cut = path.find_last_of('\\');
    if (cut != std::string::npos && cut + 1 < path.size()) {
      // The folder above, as the drive's root "E:\" when that is the one.
      const std::string above = path.substr(0, cut == 2 && path[1] == ':' ? cut + 1 : cut);
      const std::string name = path.substr(cut + 1);
      FolderIds outer;
      if (!Read(above, outer)) return false;
      std::uint64_t id = 0;
      for (const platform::FileIdEntry& entry : outer.entries) {
        if (!platform::EqualsIgnoreCase(entry.name, name)) continue;
        // A junction or symbolic link in place of the folder: left.
        if ((entry.attributes & platform::attr::kReparsePoint) != 0) return false;
        id = entry.fileId;
      }
      if (id != 0) {
        if (id == outer.self || id == outer.parent || outer.Shared(name, id)) return false;
        if (outer.self != 0) above_.push_back(outer.self);
        if (outer.parent != 0) above_.push_back(outer.parent);
      }
      if (!Contents(path, id, outer.self)) return false;
    } else if (!Contents(path, 0, 0)) {
      return false;
    }
    if (!aborted_) files_.RemoveDir(path);
    return true;
  }

  // Removes what is below dir. `id` is the folder's file id where it was
  // listed, `parent` that of the folder it was listed in (0: not known).
  bool Contents(const std::string& dir, std::uint64_t id, std::uint64_t parent) {
    FolderIds ids;
    if (!Enter(dir, id, parent, ids)) return false;
    return Walk(dir, ids);
  }

 private:
  // Reads the ids of a folder about to be walked. False when it is not to
  // be walked: a path too long to list, a server that stopped answering,
  // or a folder that is not the one that was listed (a link).
  bool Enter(const std::string& dir, std::uint64_t id, std::uint64_t parent, FolderIds& ids) {
    if (!FitsMaxPath(JoinPath(dir, "*.*"))) return false;  // never list a shortened path
    if (!Read(dir, ids)) return false;
    // Another folder than the one that was listed, or one whose parent is
    // elsewhere.
    if (id != 0 && ids.self != 0 && ids.self != id) return false;
    if (parent != 0 && ids.parent != 0 && ids.parent != parent) return false;
    return true;
  }

  bool Walk(const std::string& dir, const FolderIds& ids) {
    const std::string pattern = JoinPath(dir, "*.*");
    platform::FindData entry;
    const platform::FindHandle handle = files_.FindFirst(pattern, entry);
    if (handle == platform::kInvalidFind) {
      Check();
      return false;
    }
    if (ids.self != 0) above_.push_back(ids.self);

    bool result = true;
    bool more = true;
    while (more && !aborted_) {
      if (!entry.name.empty() && entry.name[0] != '.') {
        const std::string path = JoinPath(dir, entry.name);
        // A path beyond the limit is skipped whole: cutting it short could
        // name some other entry.
        if (FitsMaxPath(path)) result = Remove(path, entry, ids);
      }
      more = !aborted_ && files_.FindNext(handle, entry);
    }

    if (!aborted_) {
      const platform::ErrorCode end = files_.LastError();
      if (end == platform::err::kNoMoreFiles) {
        files_.RemoveDir(dir);
        result = true;
      } else if (IsNetworkFailure(end)) {
        aborted_ = true;
      }
    }
    files_.FindEnd(handle);
    if (ids.self != 0) above_.pop_back();
    return result;
  }

  bool Remove(const std::string& path, const platform::FindData& entry, const FolderIds& ids) {
    const bool isDirectory = (entry.attributes & platform::attr::kDirectory) != 0;
    const bool isLink = (entry.attributes & platform::attr::kReparsePoint) != 0;
    bool removed;
    if (isDirectory && !isLink) {
      const std::uint64_t id = ids.IdOf(entry.name);
      if (id != 0 && (std::find(above_.begin(), above_.end(), id) != above_.end() || ids.Shared(entry.name, id))) {
        return false;  // a link the server follows: it stays
      }
      FolderIds inner;
      if (Enter(path, id, ids.self, inner)) {
        Walk(path, inner);
      } else if (!aborted_ && FitsMaxPath(JoinPath(path, "*.*"))) {
        return false;  // a link the server follows: it stays
      }
      if (aborted_ || !ClearReadOnly(path, entry.attributes)) return false;
      removed = files_.RemoveDir(path);
    } else if (isDirectory) {
      // A junction or directory link: only the link itself goes.
      if (!ClearReadOnly(path, entry.attributes)) return false;
      removed = files_.RemoveDir(path);
    } else {
      if (!ClearReadOnly(path, entry.attributes)) return false;
      removed = files_.RemoveFile(path);
    }
    if (!removed) Check();
    return removed;
  }

  // Clears the read-only bit so that the removal is allowed. An entry
  // without it is left alone: through a link, the attributes that change
  // are those of what it leads to. False when the server stopped answering.
  bool ClearReadOnly(const std::string& path, std::uint32_t attributes) {
    if ((attributes & platform::attr::kReadOnly) == 0) return true;
    std::uint32_t cleared = attributes & ~platform::attr::kReadOnly;
    if (cleared == 0) cleared = platform::attr::kNormal;
    if (!files_.SetAttributes(path, cleared)) Check();
    return !aborted_;
  }

  // The ids of a folder's listing; false only when the server stopped
  // answering. A folder that cannot be listed this way gives no ids.
  bool Read(const std::string& dir, FolderIds& ids) {
    if (files_.ListFileIds(dir, ids.entries) != platform::err::kSuccess) {
      Check();
      ids.entries.clear();
      return !aborted_;
    }
    ids.self = ids.IdOf(".");
    ids.parent = ids.IdOf("..");
    ids.entries.erase(std::remove_if(ids.entries.begin(), ids.entries.end(),
                                     [](const platform::FileIdEntry& e) { return e.name == "." || e.name == ".."; }),
                      ids.entries.end());
    return true;
  }

  // After a failed call: ends the walk when the server no longer answers.
  void Check() {
    if (IsNetworkFailure(files_.LastError())) aborted_ = true;
  }

  platform::Files& files_;
  std::vector<std::uint64_t> above_;  // the ids of the folders around the one being walked
  bool aborted_ = false;
};

}  // namespace

bool deleteDirectoryContents(const std::string& dir) { return TreeWalk(platform::files()).Contents(dir, 0, 0); }

bool deleteDirectoryTree(const std::string& path) {
  const std::string copy = path;
  return TreeWalk(platform::files()).Tree(copy);
}

}  // namespace VkSharemapper
