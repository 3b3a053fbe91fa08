#include "disk/recycle_bin.h"

#include "platform/platform.h"

namespace VkSharemapper {
namespace {

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '\\') return dir + name;
  return dir + "\\" + name;
}

bool FitsMaxPath(const std::string& path) { return path.size() + 1 <= kMaxPath; }

// Clears the read-only bit so that the removal is allowed.
void ClearReadOnly(platform::Files& files, const std::string& path, std::uint32_t attributes) {
  std::uint32_t cleared = attributes & ~platform::attr::kReadOnly;
  if (cleared == 0) cleared = platform::attr::kNormal;
  files.SetAttributes(path, cleared);
}

}  // namespace

bool deleteDirectoryContents(const std::string& dir) {
  platform::Files& files = platform::files();
  const std::string pattern = JoinPath(dir, "*.*");
  if (!FitsMaxPath(pattern)) return false;  // never list a shortened path

  platform::FindData entry;
  const platform::FindHandle handle = files.FindFirst(pattern, entry);
  if (handle == platform::kInvalidFind) return false;

  bool result = true;
  bool more = true;
  while (more) {
    if (!entry.name.empty() && entry.name[0] != '.') {
      const std::string path = JoinPath(dir, entry.name);
      // A path beyond the limit is skipped whole: cutting it short could name
      // some other entry.
      if (FitsMaxPath(path)) {
        const bool isDirectory = (entry.attributes & platform::attr::kDirectory) != 0;
        const bool isLink = (entry.attributes & platform::attr::kReparsePoint) != 0;
        if (isDirectory) {
          // Walking into a junction or directory link would empty whatever it
          // points at; only the link itself goes.
          if (!isLink) deleteDirectoryContents(path);
          ClearReadOnly(files, path, entry.attributes);
          result = files.RemoveDir(path);
        } else {
          ClearReadOnly(files, path, entry.attributes);
          result = files.RemoveFile(path);
        }
      }
    }
    more = files.FindNext(handle, entry);
  }

  if (files.LastError() == platform::err::kNoMoreFiles) {
    files.RemoveDir(dir);
    result = true;
  }
  files.FindEnd(handle);
  return result;
}

bool deleteDirectoryTree(const std::string& path) {
  const std::string copy = path;
  if (!deleteDirectoryContents(copy)) return false;
  platform::files().RemoveDir(path);
  return true;
}

}  // namespace VkSharemapper
