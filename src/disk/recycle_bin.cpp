#include "disk/recycle_bin.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "disk/task_pool.h"
#include "platform/platform.h"

namespace VkSharemapper {
namespace {

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '\\') return dir + name;
  return dir + "\\" + name;
}

bool FitsMaxPath(const std::string& path) { return path.size() + 1 <= platform::kMaxPath; }

// What a failed call met: the server stopped answering in time, or the
// connection to it is gone. Every further call would wait as long again.
bool IsNetworkFailure(platform::ErrorCode code) {
  namespace err = platform::err;
  switch (code) {
    case err::kRemoteNotListening:
    case err::kBadNetPath:
    case err::kNetworkBusy:
    case err::kDeviceGone:
    case err::kUnexpectedNetworkError:
    case err::kBadNetResponse:
    case err::kNetNameDeleted:
    case err::kSemTimeout:
    case err::kVirtualCircuitClosed:
    case err::kTimeout:
    case err::kConnectionUnavail:
    case err::kConnectionRefused:
    case err::kNetworkUnreachable:
    case err::kHostUnreachable:
    case err::kPortUnreachable:
    case err::kConnectionAborted:
    case err::kNotConnected:
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
// One listing per folder gives both the ids and the entries. The entries of
// a folder are dealt with side by side, as many calls at once as the layer
// carries: files and links removed, subfolders walked the same way. A
// folder goes once all its entries have been dealt with.
//
// The first call that meets a server that no longer answers ends the walk:
// each further call would only wait for its own timeout. The calls already
// under way end within that same timeout.
class TreeWalk {
  // The ids of the folders around the one being walked, outermost first.
  using Above = std::vector<std::uint64_t>;

 public:
  explicit TreeWalk(platform::Files& files) : files_(files), pool_(files.Overlap()) {}

  bool Tree(const std::string& path) {
    const std::size_t cut = path.find_last_of('\\');
    if (cut == std::string::npos || cut + 1 >= path.size()) return Contents(path, 0, 0);
    // The folder above, as the drive's root "E:\" when that is the one.
    const std::string holder = path.substr(0, cut == 2 && path[1] == ':' ? cut + 1 : cut);
    const std::string name = path.substr(cut + 1);
    FolderIds outer;
    if (Read(holder, outer) != platform::err::kSuccess && aborted_) return false;
    std::uint64_t id = 0;
    for (const platform::FileIdEntry& entry : outer.entries) {
      if (!platform::EqualsIgnoreCase(entry.name, name)) continue;
      // A junction or symbolic link in place of the folder: left.
      if ((entry.attributes & platform::attr::kReparsePoint) != 0) return false;
      id = entry.fileId;
    }
    Above above;
    if (id != 0) {
      if (id == outer.self || id == outer.parent || outer.Shared(name, id)) return false;
      if (outer.self != 0) above.push_back(outer.self);
      if (outer.parent != 0) above.push_back(outer.parent);
    }
    return Contents(path, id, outer.self, above);
  }

  // Removes what is below dir, then dir. `id` is the folder's file id where
  // it was listed, `parent` that of the folder it was listed in (0: not
  // known).
  bool Contents(const std::string& dir, std::uint64_t id, std::uint64_t parent, const Above& above = {}) {
    FolderIds ids;
    if (Enter(dir, id, parent, ids) != Entry::kWalk) return false;
    return Walk(dir, ids, above);
  }

 private:
  enum class Entry { kWalk, kUnlisted, kLink };

  // Lists a folder about to be walked: kWalk when it is to be walked,
  // kUnlisted for a path too long to list or a folder that cannot be
  // listed, kLink for a folder that is not the one that was listed (a link)
  // or whose parent is elsewhere.
  Entry Enter(const std::string& dir, std::uint64_t id, std::uint64_t parent, FolderIds& ids) {
    if (!FitsMaxPath(JoinPath(dir, "*.*"))) return Entry::kUnlisted;  // never list a shortened path
    if (Read(dir, ids) != platform::err::kSuccess) return Entry::kUnlisted;
    if (id != 0 && ids.self != 0 && ids.self != id) return Entry::kLink;
    if (parent != 0 && ids.parent != 0 && ids.parent != parent) return Entry::kLink;
    return Entry::kWalk;
  }

  // Removes the listed entries of dir, then dir. True when every entry was
  // dealt with (dir itself may stay, for an entry kept); false when the
  // walk ended before. `above` holds the ids of the folders around dir.
  bool Walk(const std::string& dir, const FolderIds& ids, Above above) {
    if (ids.self != 0) above.push_back(ids.self);
    std::vector<std::function<void()>> removals;
    for (const platform::FileIdEntry& entry : ids.entries) {
      if (entry.name.empty() || entry.name[0] == '.') continue;
      const std::string path = JoinPath(dir, entry.name);
      // A path beyond the limit is skipped whole: cutting it short could
      // name some other entry.
      if (!FitsMaxPath(path)) continue;
      const bool isDirectory = (entry.attributes & platform::attr::kDirectory) != 0;
      const bool isLink = (entry.attributes & platform::attr::kReparsePoint) != 0;
      if (isDirectory && !isLink) {
        removals.push_back([this, path, &entry, &ids, &above] { Folder(path, entry, ids, above); });
      } else {
        // A file, or a junction or directory link: only the link itself goes.
        removals.push_back([this, path, &entry, isDirectory] { Remove(path, entry.attributes, isDirectory); });
      }
    }
    pool_.RunAll(removals);
    if (aborted_) return false;
    Check(files_.RemoveDir(dir));
    return true;
  }

  // A subfolder: checked, emptied and removed, or left when it is a link.
  void Folder(const std::string& path, const platform::FileIdEntry& entry, const FolderIds& ids, const Above& above) {
    if (aborted_) return;
    const std::uint64_t id = entry.fileId;
    if (id != 0 && (std::find(above.begin(), above.end(), id) != above.end() || ids.Shared(entry.name, id))) {
      return;  // a link the server follows: it stays
    }
    FolderIds inner;
    switch (Enter(path, id, ids.self, inner)) {
      case Entry::kLink:
        return;  // a link the server follows: it stays
      case Entry::kWalk:
        // Its read-only bit goes first, so that the walk's last call removes it.
        if (ClearReadOnly(path, entry.attributes)) Walk(path, inner, above);
        return;
      case Entry::kUnlisted:
        if (!aborted_ && ClearReadOnly(path, entry.attributes)) Check(files_.RemoveDir(path));
        return;
    }
  }

  void Remove(const std::string& path, std::uint32_t attributes, bool isDirectory) {
    if (aborted_ || !ClearReadOnly(path, attributes)) return;
    Check(isDirectory ? files_.RemoveDir(path) : files_.RemoveFile(path));
  }

  // Clears the read-only bit so that the removal is allowed. An entry
  // without it is left alone: through a link, the attributes that change
  // are those of what it leads to. False when the server stopped answering.
  bool ClearReadOnly(const std::string& path, std::uint32_t attributes) {
    if ((attributes & platform::attr::kReadOnly) == 0) return true;
    std::uint32_t cleared = attributes & ~platform::attr::kReadOnly;
    if (cleared == 0) cleared = platform::attr::kNormal;
    Check(files_.SetAttributes(path, cleared));
    return !aborted_;
  }

  // The listing of a folder, its own and its parent's ids apart.
  platform::ErrorCode Read(const std::string& dir, FolderIds& ids) {
    const platform::ErrorCode code = Check(files_.ListFileIds(dir, ids.entries));
    ids.self = ids.IdOf(".");
    ids.parent = ids.IdOf("..");
    ids.entries.erase(std::remove_if(ids.entries.begin(), ids.entries.end(),
                                     [](const platform::FileIdEntry& e) { return e.name == "." || e.name == ".."; }),
                      ids.entries.end());
    return code;
  }

  // A call's result; a server that no longer answers ends the walk.
  platform::ErrorCode Check(platform::ErrorCode code) {
    if (IsNetworkFailure(code)) aborted_ = true;
    return code;
  }

  platform::Files& files_;
  TaskPool pool_;
  std::atomic<bool> aborted_{false};
};

}  // namespace

bool deleteDirectoryTree(const std::string& path) { return TreeWalk(platform::files()).Tree(path); }

}  // namespace VkSharemapper
