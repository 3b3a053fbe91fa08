#include <gtest/gtest.h>

#include <algorithm>

#include "disk/recycle_bin.h"
#include "fakes.h"

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
  fake.files.AddFile(kBin + "\\b");
  fake.files.AddFile(kBin + "\\c");
  fake.files.failListingMidway = true;
  // The walk stops at the failure and reports the last removal; the folder stays.
  EXPECT_TRUE(deleteDirectoryTree(kBin));
  EXPECT_TRUE(fake.files.Exists(kBin));

  fake.files.failListingMidway = false;
  fake.files.failRemove.insert(kBin + "\\c");
  EXPECT_TRUE(deleteDirectoryTree(kBin));  // the listing ran to its end
  EXPECT_TRUE(fake.files.Exists(kBin + "\\c"));
}
