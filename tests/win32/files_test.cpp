#include <map>
#include <string>

#include "check.h"
#include "platform/platform.h"
#include "platform/win32/windows_api.h"
#include "suite.h"

namespace suite {
namespace {

namespace attr = platform::attr;
namespace err = platform::err;

// Lists one directory through the layer: name -> attributes.
std::map<std::string, std::uint32_t> List(const std::string& dir, bool& endedCleanly) {
  platform::Files& files = platform::files();
  std::map<std::string, std::uint32_t> entries;
  platform::FindData data;
  const platform::FindHandle handle = files.FindFirst(dir + "\\*.*", data);
  endedCleanly = false;
  if (handle == platform::kInvalidFind) return entries;
  do {
    entries[data.name] = data.attributes;
  } while (files.FindNext(handle, data));
  endedCleanly = files.LastError() == err::kNoMoreFiles;
  files.FindEnd(handle);
  return entries;
}

}  // namespace

void FilesTests() {
  check::Section("Files");
  platform::Files& files = platform::files();

  // A folder shaped like a recycle bin: a read-only file, a hidden system
  // folder with a file inside, and a dot file.
  const std::string bin = ScratchDir() + "\\$RECYCLE.BIN";
  const std::string readOnly = bin + "\\readonly.txt";
  const std::string keep = bin + "\\.keep";
  const std::string sys = bin + "\\S-1-5-21";
  const std::string inner = sys + "\\$I123.txt";
  CHECK(files.MakeDirectory(bin));
  CHECK(files.MakeDirectory(sys));
  CHECK(WriteTextFile(readOnly, "r") && WriteTextFile(keep, "") && WriteTextFile(inner, "i"));
  CHECK(files.SetAttributes(readOnly, attr::kReadOnly));
  CHECK(files.SetAttributes(sys, attr::kHidden | attr::kSystem));

  bool endedCleanly = false;
  std::map<std::string, std::uint32_t> entries = List(bin, endedCleanly);
  CHECK(endedCleanly);  // the listing ended with ERROR_NO_MORE_FILES
  CHECK_EQ(entries.size(), 5u);
  CHECK(entries.count(".") == 1 && entries.count("..") == 1);
  CHECK(entries.count(".keep") == 1 && (entries[".keep"] & attr::kDirectory) == 0);
  CHECK(entries.count("readonly.txt") == 1);
  CHECK_EQ(entries["readonly.txt"] & (attr::kReadOnly | attr::kDirectory), attr::kReadOnly);
  CHECK(entries.count("S-1-5-21") == 1);
  const std::uint32_t dirBits = attr::kDirectory | attr::kHidden | attr::kSystem;
  CHECK_EQ(entries["S-1-5-21"] & dirBits, dirBits);

  entries = List(sys, endedCleanly);
  CHECK(endedCleanly && entries.size() == 3u && entries.count("$I123.txt") == 1);

  // _access: existence whatever the kind; write access follows read-only.
  CHECK_EQ(files.Access(readOnly, 0), 0);
  CHECK_EQ(files.Access(sys, 0), 0);
  CHECK_EQ(files.Access(readOnly, 4), 0);
  CHECK_EQ(files.Access(readOnly, 2), -1);
  CHECK_EQ(files.Access(readOnly, 1), 0);  // no such mode on Windows: treated as existence
  CHECK_EQ(files.Access(bin + "\\absent", 0), -1);

  // A read-only file cannot be deleted until the attribute is cleared.
  CHECK(!files.RemoveFile(readOnly));
  CHECK_EQ(files.LastError(), err::kAccessDenied);
  CHECK(files.SetAttributes(readOnly, attr::kNormal));
  CHECK(files.RemoveFile(readOnly));
  CHECK_EQ(files.Access(readOnly, 0), -1);
  CHECK(!files.RemoveFile(readOnly));
  CHECK_EQ(files.LastError(), err::kFileNotFound);

  // Directories go only once empty; hidden and system bits do not stop it.
  CHECK(!files.RemoveDir(sys));
  CHECK_EQ(files.LastError(), err::kDirNotEmpty);
  CHECK(files.RemoveFile(inner));
  CHECK(files.RemoveDir(sys));
  CHECK(!files.RemoveDir(bin));  // .keep is still there
  CHECK(files.RemoveFile(keep));
  CHECK(files.RemoveDir(bin));
  CHECK_EQ(files.Access(bin, 0), -1);

  // A directory that cannot be listed, and the invalid handle it yields.
  platform::FindData data;
  CHECK_EQ(files.FindFirst(bin + "\\*.*", data), platform::kInvalidFind);
  const platform::ErrorCode listError = files.LastError();
  CHECK(listError == err::kPathNotFound || listError == err::kFileNotFound);
  CHECK(!files.FindNext(platform::kInvalidFind, data));
  CHECK_EQ(files.LastError(), err::kInvalidHandle);
  CHECK(!files.FindEnd(platform::kInvalidFind));

  RemoveTree(bin);
}

}  // namespace suite
