#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "disk/recycle_bin.h"
#include "support/fakes.h"

using platform::attr::kDirectory;
using platform::attr::kHidden;
using platform::attr::kReadOnly;
using platform::attr::kReparsePoint;
using platform::attr::kSystem;
using VkSharemapper::deleteDirectoryTree;

namespace {
const std::string kBin = "E:\\$RECYCLE.BIN";
}

TEST(RecycleBin, RemovesEverythingButDotFilesAndTheirFolders) {
  fakes::Installed fake;
  fakes::FakeFiles& files = fake.files;
  files.AddDir(kBin, kHidden | kSystem);
  files.AddFile(kBin + "\\readonly.txt", kReadOnly);
  files.AddDir(kBin + "\\S-1-5-21", kHidden | kSystem);
  files.AddFile(kBin + "\\S-1-5-21\\$Ifile");
  files.AddDir(kBin + "\\S-1-5-21\\$Rdir");
  files.AddFile(kBin + "\\S-1-5-21\\$Rdir\\deep.bin");
  files.AddDir(kBin + "\\kept");
  files.AddFile(kBin + "\\kept\\.keep");
  files.AddFile(kBin + "\\kept\\gone.txt");

  EXPECT_TRUE(deleteDirectoryTree(kBin));
  EXPECT_TRUE(files.Exists(kBin));
  EXPECT_TRUE(files.Exists(kBin + "\\kept\\.keep"));
  EXPECT_FALSE(files.Exists(kBin + "\\kept\\gone.txt"));
  EXPECT_FALSE(files.Exists(kBin + "\\readonly.txt"));
  EXPECT_FALSE(files.Exists(kBin + "\\S-1-5-21"));

  // Contents go before the folder that holds them.
  auto at = [&](const std::string& path) {
    return std::find(files.removed.begin(), files.removed.end(), path) - files.removed.begin();
  };
  EXPECT_LT(at(kBin + "\\S-1-5-21\\$Rdir\\deep.bin"), at(kBin + "\\S-1-5-21\\$Rdir"));
  EXPECT_LT(at(kBin + "\\S-1-5-21\\$Rdir"), at(kBin + "\\S-1-5-21"));
}

TEST(RecycleBin, WholeTreeGoesWhenNothingIsKept) {
  fakes::Installed fake;
  fake.files.AddDir(kBin);
  fake.files.AddFile(kBin + "\\a", kReadOnly);
  fake.files.AddDir(kBin + "\\b", kHidden | kSystem | kReadOnly);
  EXPECT_TRUE(deleteDirectoryTree(kBin));
  EXPECT_TRUE(fake.files.nodes.empty());
}

TEST(RecycleBin, LinksAreRemovedNeverFollowed) {
  fakes::Installed fake;
  fakes::FakeFiles& files = fake.files;
  files.AddDir(kBin);
  files.AddDir(kBin + "\\junction", kReparsePoint);
  // What the link points at, as the listing would show it through the link.
  files.AddFile(kBin + "\\junction\\precious.doc");
  files.AddFile(kBin + "\\filelink", kReparsePoint);

  deleteDirectoryTree(kBin);
  EXPECT_FALSE(files.Exists(kBin + "\\junction"));
  EXPECT_FALSE(files.Exists(kBin + "\\filelink"));
  EXPECT_TRUE(files.Exists(kBin + "\\junction\\precious.doc"));
  EXPECT_EQ(std::count(files.listed.begin(), files.listed.end(), kBin + "\\junction"), 0);
  EXPECT_EQ(std::count(files.removed.begin(), files.removed.end(), kBin + "\\junction\\precious.doc"), 0);
}

TEST(RecycleBin, OverlongPathsAreSkippedNotShortened) {
  fakes::Installed fake;
  fakes::FakeFiles& files = fake.files;
  files.AddDir(kBin);
  const std::string shortName(200, 'a');
  const std::string longName = shortName + std::string(60, 'b');  // path beyond 259 characters
  files.AddFile(kBin + "\\" + shortName);
  files.AddFile(kBin + "\\" + longName);
  deleteDirectoryTree(kBin);
  EXPECT_FALSE(files.Exists(kBin + "\\" + shortName));
  EXPECT_TRUE(files.Exists(kBin + "\\" + longName));
  EXPECT_TRUE(files.Exists(kBin));
}

TEST(RecycleBin, UnlistableOrBrokenListing) {
  fakes::Installed fake;
  EXPECT_FALSE(deleteDirectoryTree(kBin));  // nothing there

  fake.files.AddDir(kBin);
  fake.files.AddFile(kBin + "\\a");
  fake.files.AddFile(kBin + "\\c");
  fake.files.failListing = platform::err::kNotEnoughMemory;
  // A listing that breaks off is not walked: nothing goes.
  EXPECT_FALSE(deleteDirectoryTree(kBin));
  EXPECT_TRUE(fake.files.removed.empty());

  fake.files.failListing = platform::err::kSuccess;
  fake.files.failRemove.insert(kBin + "\\c");
  EXPECT_TRUE(deleteDirectoryTree(kBin));  // every entry was dealt with
  EXPECT_TRUE(fake.files.Exists(kBin + "\\c"));
  EXPECT_FALSE(fake.files.Exists(kBin + "\\a"));
}

// One listing per folder gives both the ids and the entries.
TEST(RecycleBin, EachFolderIsListedOnce) {
  fakes::Installed fake;
  fakes::FakeFiles& files = fake.files;
  files.AddDir("E:\\");
  files.AddDir(kBin);
  for (const char* dir : {"\\S-1", "\\S-1\\deep", "\\S-2"}) {
    files.AddDir(kBin + dir);
    files.AddFile(kBin + dir + "\\f");
  }
  EXPECT_TRUE(deleteDirectoryTree(kBin));
  std::vector<std::string> listed = files.listed;
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"E:\\", kBin, kBin + "\\S-1", kBin + "\\S-1\\deep", kBin + "\\S-2"}));
  EXPECT_EQ(files.nodes.size(), 1u);  // the root
}

// The files of a folder go side by side, never more at once than the layer
// carries, with the outcome of one removal after another.
TEST(RecycleBin, OverlappedRemovesAreBoundedAndEndAsASerialWalk) {
  std::map<unsigned, std::vector<std::string>> left;
  for (const unsigned overlap : {1u, 4u, 8u}) {
    SCOPED_TRACE(overlap);
    fakes::Installed fake;
    fakes::FakeFiles& files = fake.files;
    files.overlap = overlap;
    files.AddDir(kBin);
    for (int d = 0; d < 3; ++d) {
      const std::string dir = kBin + "\\S" + std::to_string(d);
      files.AddDir(dir, d == 1 ? kReadOnly : 0);
      for (int f = 0; f < 20; ++f) files.AddFile(dir + "\\f" + std::to_string(f), f % 3 == 0 ? kReadOnly : 0);
      files.AddDir(dir + "\\in");
      files.AddFile(dir + "\\in\\x");
    }
    files.AddFile(kBin + "\\S2\\.keep");
    EXPECT_TRUE(deleteDirectoryTree(kBin));
    EXPECT_LE(files.mostAtOnce, overlap);
    for (const auto& node : files.nodes) left[overlap].push_back(node.first);
    // Every folder after its contents.
    for (std::size_t i = 0; i < files.removed.size(); ++i) {
      for (std::size_t j = i + 1; j < files.removed.size(); ++j) {
        EXPECT_NE(files.removed[j].rfind(files.removed[i] + "\\", 0), 0u) << files.removed[i];
      }
    }
  }
  EXPECT_EQ(left[4], left[1]);
  EXPECT_EQ(left[8], left[1]);
  EXPECT_EQ(left[1], (std::vector<std::string>{kBin, kBin + "\\S2", kBin + "\\S2\\.keep"}));
}

// A server that follows a symbolic link shows it as a plain folder with the
// file id of the folder it leads to (and that folder's ".."). Each case
// plants one such link, filled with what the server would show through it;
// the rest of the bin goes, the link and what it shows stay.
TEST(RecycleBin, FoldersThatTheirIdsShowToBeLinksAreNeverEntered) {
  constexpr std::uint64_t kRoot = 1, kBinId = 2, kKeep = 3, kOther = 4;
  struct Case {
    const char* what;
    std::string link;        // where the link sits
    std::uint64_t id;        // the id it shows
    std::uint64_t parentId;  // what its ".." shows (0: where it sits)
  };
  const std::vector<Case> cases = {
      {"to a folder beside the bin", kBin + "\\evil", kKeep, kRoot},
      {"to a folder outside the share", kBin + "\\wide", 77, 76},
      {"to the bin itself", kBin + "\\self", kBinId, kRoot},
      {"to the drive's root", kBin + "\\sub\\up", kRoot, 0},
      {"to a folder beside it", kBin + "\\sub\\twin", kOther, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fakes::Installed fake;
    fakes::FakeFiles& files = fake.files;
    files.AddDir("E:\\");
    files.nodes["E:\\"].fileId = kRoot;
    files.AddDir(kBin, kHidden | kSystem);
    files.nodes[kBin].fileId = kBinId;
    files.AddDir("E:\\keep");
    files.nodes["E:\\keep"].fileId = kKeep;
    files.AddFile(kBin + "\\junk.txt");
    files.AddDir(kBin + "\\sub");
    files.nodes[kBin + "\\sub"].fileId = 5;
    files.AddDir(kBin + "\\sub\\other");
    files.nodes[kBin + "\\sub\\other"].fileId = kOther;
    files.AddDir(c.link, kReadOnly);
    files.nodes[c.link].fileId = c.id;
    files.nodes[c.link].parentId = c.parentId;
    files.AddFile(c.link + "\\precious.doc", kReadOnly);

    deleteDirectoryTree(kBin);
    EXPECT_TRUE(files.Exists(c.link + "\\precious.doc"));
    // Through a link, attributes are those of what it leads to.
    EXPECT_EQ(files.nodes[c.link].attributes, kDirectory | kReadOnly);
    EXPECT_EQ(files.nodes[c.link + "\\precious.doc"].attributes, kReadOnly);
    EXPECT_FALSE(files.Exists(kBin + "\\junk.txt"));
    EXPECT_TRUE(files.Exists("E:\\keep"));
  }
}

TEST(RecycleBin, ABinThatIsALinkIsLeftWhole) {
  struct Case {
    const char* what;
    std::uint64_t binId;
    std::uint64_t binParentId;
    std::uint32_t attributes;
  };
  // The root holds keep (3); the root is 1, the folder above it 9.
  const std::vector<Case> cases = {
      {"to a folder beside it", 3, 1, 0},
      {"to the root", 1, 9, 0},
      {"to the folder above the root", 9, 8, 0},
      {"to a folder further down", 20, 21, 0},
      {"a junction", 20, 1, kReparsePoint},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fakes::Installed fake;
    fakes::FakeFiles& files = fake.files;
    files.AddDir("E:\\");
    files.nodes["E:\\"].fileId = 1;
    files.nodes["E:\\"].parentId = 9;
    files.AddDir("E:\\keep");
    files.nodes["E:\\keep"].fileId = 3;
    files.AddDir(kBin, c.attributes);
    files.nodes[kBin].fileId = c.binId;
    files.nodes[kBin].parentId = c.binParentId;
    files.AddFile(kBin + "\\precious.doc");

    EXPECT_FALSE(deleteDirectoryTree(kBin));
    EXPECT_TRUE(files.Exists(kBin + "\\precious.doc"));
    EXPECT_TRUE(files.removed.empty());
  }
}

// The server stops answering after `answered` calls: the walk ends at the
// first call that gets no answer, wherever in the tree that is; the calls
// already under way beside it end too, and no other begins.
TEST(RecycleBin, WalkEndsAtTheFirstCallTheServerDoesNotAnswer) {
  for (const unsigned overlap : {1u, 8u}) {
    for (std::size_t answered = 0; answered < 43; answered += 3) {  // the walk makes 43 calls
      SCOPED_TRACE(testing::Message() << "overlap " << overlap << ", answered " << answered);
      fakes::Installed fake;
      fakes::FakeFiles& files = fake.files;
      files.overlap = overlap;
      files.AddDir("E:\\");
      files.nodes["E:\\"].fileId = 1;
      files.AddDir(kBin);
      files.nodes[kBin].fileId = 2;
      for (int d = 0; d < 5; ++d) {
        const std::string dir = kBin + "\\S" + std::to_string(d);
        files.AddDir(dir);
        files.nodes[dir].fileId = 10 + static_cast<std::uint64_t>(d);
        for (int f = 0; f < 5; ++f) files.AddFile(dir + "\\f" + std::to_string(f), f == 0 ? kReadOnly : platform::attr::kArchive);
      }
      files.answeredCalls = answered;
      deleteDirectoryTree(kBin);
      EXPECT_GE(files.unansweredCalls, 1u);
      EXPECT_LE(files.unansweredCalls, overlap);
    }
  }
}

// Every code that the redirector gives for a server that is gone ends the
// walk at the call that met it.
TEST(RecycleBin, EveryDeadServerCodeEndsTheWalk) {
  namespace err = platform::err;
  for (const platform::ErrorCode code :
       {err::kRemoteNotListening, err::kBadNetPath, err::kNetworkBusy, err::kDeviceGone, err::kUnexpectedNetworkError,
        err::kBadNetResponse, err::kNetNameDeleted, err::kSemTimeout, err::kVirtualCircuitClosed, err::kTimeout,
        err::kConnectionUnavail, err::kConnectionRefused, err::kNetworkUnreachable, err::kHostUnreachable,
        err::kPortUnreachable, err::kConnectionAborted, err::kNotConnected}) {
    SCOPED_TRACE(code);
    fakes::Installed fake;
    fakes::FakeFiles& files = fake.files;
    files.overlap = 1;
    files.AddDir(kBin);
    for (int f = 0; f < 6; ++f) files.AddFile(kBin + "\\f" + std::to_string(f));
    files.answeredCalls = 3;  // the two listings and one removal
    files.unansweredCode = code;
    EXPECT_FALSE(deleteDirectoryTree(kBin));
    EXPECT_EQ(files.unansweredCalls, 1u);
    EXPECT_EQ(files.removed.size(), 1u);
  }
  // Refusals of one entry do not end it.
  fakes::Installed fake;
  fake.files.overlap = 1;
  fake.files.AddDir(kBin);
  for (int f = 0; f < 6; ++f) fake.files.AddFile(kBin + "\\f" + std::to_string(f));
  fake.files.answeredCalls = 3;
  fake.files.unansweredCode = platform::err::kAccessDenied;
  deleteDirectoryTree(kBin);
  EXPECT_EQ(fake.files.unansweredCalls, 6u);  // the five files left and the bin
}
