// Files and directories: the existence test, directory creation, directory
// listings and removal. Paths are narrow strings; on a mapped drive
// ("E:\dir\file") they are resolved through the network connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace platform {

// MAX_PATH: the longest path, terminator included, that a call takes.
constexpr std::size_t kMaxPath = 260;

// File attribute bits, as Windows numbers them.
namespace attr {
constexpr std::uint32_t kReadOnly = 0x1;
constexpr std::uint32_t kHidden = 0x2;
constexpr std::uint32_t kSystem = 0x4;
constexpr std::uint32_t kDirectory = 0x10;
constexpr std::uint32_t kArchive = 0x20;
constexpr std::uint32_t kNormal = 0x80;
constexpr std::uint32_t kReparsePoint = 0x400;
}  // namespace attr

// One entry of a folder with the file id the file system (or the server)
// gives it: the part of FILE_ID_BOTH_DIR_INFO we use.
struct FileIdEntry {
  std::uint32_t attributes = 0;
  std::uint32_t reparseTag = 0;  // the tag of a reparse point, else 0
  std::uint64_t fileId = 0;      // 0 when none is given
  std::string name;
};

class Files {
 public:
  virtual ~Files() = default;

  // Every call answers 0 or the Windows error number of its failure, and
  // may come from several threads at once.

  // _access(path, mode): 0 when the entry exists (mode 0) or allows the
  // access asked for; 2 when there is none, 5 when it refuses the access.
  virtual ErrorCode Access(const std::string& path, int mode) = 0;

  // CreateDirectoryA(path, NULL); only the last component is created.
  virtual ErrorCode MakeDirectory(const std::string& path) = 0;

  // SetFileAttributesA.
  virtual ErrorCode SetAttributes(const std::string& path, std::uint32_t attributes) = 0;

  // DeleteFileA: removes a file (or, on a reparse point, the link itself).
  virtual ErrorCode RemoveFile(const std::string& path) = 0;

  // RemoveDirectoryA: removes an empty directory (or a directory link itself).
  virtual ErrorCode RemoveDir(const std::string& path) = 0;

  // How many of the calls above the layer carries at once (from different
  // threads) to its best speed; 1 when it carries them one after another.
  virtual unsigned Overlap() = 0;

  // Opens the file `path` for a log that each run writes anew. The file is
  // created when missing and emptied otherwise, but only once it is known to
  // be a plain file of the caller's own with no other name: a link at its
  // last component is never followed, and a FIFO or device never makes the
  // call wait. On POSIX the folder that holds it must be the caller's own
  // and no link either. Null when any of this fails. The buffer writes what
  // it is given at each flush (a newline as CR LF on Windows) and leaves the
  // file open to other readers and writers.
  virtual std::unique_ptr<std::streambuf> OpenLogFile(const std::string& path) = 0;

  // CreateFileA(dir, FILE_LIST_DIRECTORY, FILE_FLAG_BACKUP_SEMANTICS) and
  // GetFileInformationByHandleEx(FileIdBothDirectoryInfo) until the end:
  // every entry of the folder, "." and ".." included where the file system
  // lists them, with its attributes, reparse tag and file id. A link to a
  // folder that the server follows shows the id of the folder it leads to,
  // and that folder's "..". A server that does not answer the id query is
  // listed with FindFirstFileA and gives no ids (0). On a failure the
  // entries are empty.
  virtual ErrorCode ListFileIds(const std::string& dir, std::vector<FileIdEntry>& entries) = 0;
};

}  // namespace platform
