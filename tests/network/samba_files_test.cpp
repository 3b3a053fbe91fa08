// Files on a mapped drive, reached over the session that made the
// connection: listings with the share's DOS attributes, clearing read-only,
// removals, and links that lead out of the share.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/private_table.h"
#include "platform/platform.h"
#include "platform/posix/drives.h"
#include "samba/samba_server.h"

namespace {

namespace attr = platform::attr;
namespace err = platform::err;
namespace posix = platform::posix;

std::map<std::string, std::uint32_t> List(const std::string& dir, platform::ErrorCode& result) {
  std::vector<platform::FileIdEntry> found;
  result = platform::files().ListFileIds(dir, found);
  std::map<std::string, std::uint32_t> entries;
  for (const auto& entry : found) entries[entry.name] = entry.attributes;
  return entries;
}

// E: is connected to the share "pub", whose folder holds a recycle bin:
//   $RECYCLE.BIN/ro.txt          read-only
//   $RECYCLE.BIN/hidden.txt      read-only and hidden
//   $RECYCLE.BIN/sub dir/        hidden and system, with inner.txt
//   $RECYCLE.BIN/.keep
//   $RECYCLE.BIN/outside         link to a folder outside the share
class SambaFilesTest : public nettest::PrivateTableTest {
 protected:
  void SetUp() override {
    nettest::PrivateTableTest::SetUp();
    SM_REQUIRE_SAMBA(server);
    server_ = &server;
    bin_ = server.SharePath("pub") + "/$RECYCLE.BIN";
    std::error_code error;
    std::filesystem::remove_all(bin_, error);

    ASSERT_FALSE(outside_.path().empty());
    testkit::WriteFile(outside_ / "keep.txt", "keep");
    ASSERT_EQ(0, ::mkdir(bin_.c_str(), 0755));
    ASSERT_EQ(0, ::mkdir((bin_ + "/sub dir").c_str(), 0755));
    testkit::WriteFile(bin_ + "/ro.txt", "ro");
    testkit::WriteFile(bin_ + "/hidden.txt", "hidden");
    testkit::WriteFile(bin_ + "/sub dir/inner.txt", "inner");
    testkit::WriteFile(bin_ + "/.keep", "");
    ASSERT_EQ(0, ::symlink(outside_.path().c_str(), (bin_ + "/outside").c_str()));
    ASSERT_TRUE(server.GiveToTestAccount(bin_));
    std::string output;
    ASSERT_EQ(0, server.SmbClient("pub",
                                  "cd \"$RECYCLE.BIN\"; setmode ro.txt +r; setmode hidden.txt +rh; "
                                  "setmode \"sub dir\" +hs",
                                  &output))
        << output;

    ASSERT_EQ(err::kSuccess,
              network_.AddConnection(Resource(), smtest::SambaServer::Password(), smtest::SambaServer::User(),
                                     platform::net::kConnectTemporary));
  }

  void TearDown() override {
    nettest::PrivateTableTest::TearDown();
    std::error_code error;
    if (!bin_.empty()) std::filesystem::remove_all(bin_, error);
  }

  platform::NetResource Resource() const {
    platform::NetResource resource;
    resource.type = platform::net::kTypeDisk;
    resource.localName = "E:";
    resource.remoteName = server_->RemoteName("pub");
    return resource;
  }

  platform::Network& network_ = platform::network();
  platform::Files& files_ = platform::files();
  smtest::SambaServer* server_ = nullptr;
  testkit::TempDir outside_;
  std::string bin_;
};

TEST_F(SambaFilesTest, ListingCarriesTheSharesAttributes) {
  EXPECT_EQ(err::kSuccess, files_.Access("E:\\$RECYCLE.BIN", 0));
  EXPECT_EQ(err::kSuccess, files_.Access("e:/$recycle.bin/SUB DIR/inner.txt", 0));  // the share ignores case
  EXPECT_EQ(err::kFileNotFound, files_.Access("E:\\$RECYCLE.BIN\\missing", 0));

  platform::ErrorCode end = 1;
  const auto entries = List("E:\\$RECYCLE.BIN", end);
  EXPECT_EQ(err::kSuccess, end);
  ASSERT_EQ(1u, entries.count("."));
  ASSERT_EQ(1u, entries.count(".."));
  ASSERT_EQ(1u, entries.count(".keep"));
  EXPECT_EQ(attr::kReadOnly, entries.at("ro.txt") & (attr::kReadOnly | attr::kHidden | attr::kDirectory));
  EXPECT_EQ(attr::kReadOnly | attr::kHidden,
            entries.at("hidden.txt") & (attr::kReadOnly | attr::kHidden | attr::kDirectory));
  EXPECT_EQ(attr::kDirectory | attr::kHidden | attr::kSystem,
            entries.at("sub dir") & (attr::kDirectory | attr::kHidden | attr::kSystem | attr::kReadOnly));
  // A link out of the share is either hidden by the server (Samba's default,
  // "wide links = no") or shown as a reparse point, never as a plain folder.
  if (entries.count("outside") != 0) {
    EXPECT_NE(0u, entries.at("outside") & attr::kReparsePoint);
  }

  EXPECT_TRUE(List("E:\\missing", end).empty());
  EXPECT_EQ(err::kPathNotFound, end);
}

TEST_F(SambaFilesTest, ReadOnlyEntriesGoOnceTheAttributeIsCleared) {
  const std::string ro = "E:\\$RECYCLE.BIN\\ro.txt";
  EXPECT_EQ(err::kAccessDenied, files_.RemoveFile(ro));
  ASSERT_EQ(err::kSuccess, files_.SetAttributes(ro, attr::kNormal));
  ASSERT_EQ(err::kSuccess, files_.SetAttributes("E:\\$RECYCLE.BIN\\hidden.txt", attr::kHidden));

  platform::ErrorCode end = 0;
  const auto entries = List("E:\\$RECYCLE.BIN", end);
  EXPECT_EQ(0u, entries.at("ro.txt") & (attr::kReadOnly | attr::kHidden | attr::kSystem));
  EXPECT_EQ(attr::kHidden, entries.at("hidden.txt") & (attr::kReadOnly | attr::kHidden | attr::kSystem));

  EXPECT_EQ(err::kSuccess, files_.RemoveFile(ro));
  EXPECT_EQ(err::kSuccess, files_.RemoveFile("E:\\$RECYCLE.BIN\\hidden.txt"));
  EXPECT_FALSE(testkit::Exists(bin_ + "/ro.txt"));
  EXPECT_FALSE(testkit::Exists(bin_ + "/hidden.txt"));
  EXPECT_EQ(err::kFileNotFound, files_.RemoveFile(ro));
}

TEST_F(SambaFilesTest, FoldersAreEmptiedThenRemoved) {
  const std::string sub = "E:\\$RECYCLE.BIN\\sub dir";
  EXPECT_EQ(err::kDirNotEmpty, files_.RemoveDir(sub));
  // DeleteFileA refuses folders, empty or not (libsmbclient alone would
  // remove an empty one and claim to have removed a full one).
  EXPECT_EQ(err::kAccessDenied, files_.RemoveFile(sub));
  ASSERT_EQ(err::kSuccess, files_.MakeDirectory("E:\\$RECYCLE.BIN\\empty"));
  EXPECT_EQ(err::kAccessDenied, files_.RemoveFile("E:\\$RECYCLE.BIN\\empty"));
  EXPECT_TRUE(testkit::Exists(bin_ + "/empty"));

  ASSERT_EQ(err::kSuccess, files_.SetAttributes(sub, attr::kDirectory));
  platform::ErrorCode end = 0;
  const auto entries = List("E:\\$RECYCLE.BIN", end);
  EXPECT_EQ(attr::kDirectory, entries.at("sub dir") & (attr::kDirectory | attr::kHidden | attr::kSystem));

  EXPECT_EQ(err::kSuccess, files_.RemoveFile(sub + "\\inner.txt"));
  EXPECT_EQ(err::kSuccess, files_.RemoveDir(sub));
  EXPECT_FALSE(testkit::Exists(bin_ + "/sub dir"));

  ASSERT_EQ(err::kSuccess, files_.MakeDirectory("E:\\$RECYCLE.BIN\\made"));
  EXPECT_TRUE(testkit::Exists(bin_ + "/made"));
  EXPECT_EQ(err::kSuccess, files_.RemoveDir("E:\\$RECYCLE.BIN\\made"));
}

TEST_F(SambaFilesTest, WhatALinkLeadsToIsNeverTouched) {
  // Remove everything the listing offers, as a recycle-bin sweep would.
  platform::ErrorCode end = 0;
  for (const auto& [name, attributes] : List("E:\\$RECYCLE.BIN", end)) {
    if (name == "." || name == "..") continue;
    const std::string path = "E:\\$RECYCLE.BIN\\" + name;
    files_.SetAttributes(path, attributes & ~attr::kReadOnly);
    if ((attributes & attr::kDirectory) != 0) {
      if ((attributes & attr::kReparsePoint) == 0) {
        platform::ErrorCode innerEnd = 0;
        for (const auto& inner : List(path, innerEnd)) {
          if (inner.first != "." && inner.first != "..") files_.RemoveFile(path + "\\" + inner.first);
        }
      }
      files_.RemoveDir(path);
    } else {
      files_.RemoveFile(path);
    }
  }
  EXPECT_TRUE(testkit::Exists(outside_ / "keep.txt"));
  // Whatever the server hid stays, and so does the folder that holds it.
  EXPECT_EQ(err::kDirNotEmpty, files_.RemoveDir("E:\\$RECYCLE.BIN"));
  EXPECT_TRUE(testkit::Exists(outside_ / "keep.txt"));
}

TEST_F(SambaFilesTest, OnlyTheProcessThatConnectedReachesTheFiles) {
  // A process that did not make the connection holds no credentials: it
  // still sees the drive, but its files are out of reach.
  posix::UserDrives().DetachAll();
  char buffer[80];
  std::uint32_t length = sizeof buffer;
  EXPECT_EQ(err::kSuccess, network_.GetConnection("E:", buffer, length));
  EXPECT_EQ(err::kPathNotFound, files_.Access("E:\\$RECYCLE.BIN", 0));
}

TEST_F(SambaFilesTest, ACancelledDriveEndsOpenWork) {
  // Cancelled by another process: the row goes, this process's session too.
  ASSERT_EQ(err::kSuccess, posix::UserDrives().Delete('E', ""));
  EXPECT_EQ(err::kPathNotFound, files_.Access("E:\\$RECYCLE.BIN", 0));
  EXPECT_EQ(err::kPathNotFound, files_.RemoveFile("E:\\$RECYCLE.BIN\\.keep"));
  EXPECT_TRUE(testkit::Exists(bin_ + "/.keep"));
}

}  // namespace

namespace {

// Samba follows a link that stays inside the share and shows it as a plain
// folder; the file ids tell it apart: the link has the id of the folder it
// leads to, and its own listing names that folder's parent as "..".
using SambaLinksTest = nettest::PrivateTableTest;

TEST_F(SambaLinksTest, FileIdsShowWhereAFollowedLinkLeads) {
  SM_REQUIRE_SAMBA(server);
  const std::string root = server.SharePath("links");
  ASSERT_EQ(std::system(("find '" + root + "' -mindepth 1 -delete && mkdir -p '" + root + "/keep' '" + root +
                         "/$RECYCLE.BIN/real' && ln -s ../keep '" + root + "/$RECYCLE.BIN/evil'")
                            .c_str()),
            0);
  ASSERT_TRUE(server.GiveToTestAccount(root));
  platform::NetResource resource;
  resource.type = platform::net::kTypeDisk;
  resource.localName = "E:";
  resource.remoteName = server.RemoteName("links");
  ASSERT_EQ(err::kSuccess, platform::network().AddConnection(resource, smtest::SambaServer::Password(),
                                                                  smtest::SambaServer::User(),
                                                                  platform::net::kConnectTemporary));
  platform::Files& files = platform::files();
  auto ids = [&](const std::string& dir) {
    std::vector<platform::FileIdEntry> entries;
    EXPECT_EQ(err::kSuccess, files.ListFileIds(dir, entries)) << dir;
    std::map<std::string, std::uint64_t> byName;
    for (const auto& entry : entries) byName[entry.name] = entry.fileId;
    return byName;
  };
  auto top = ids("E:\\");
  auto bin = ids("E:\\$RECYCLE.BIN");
  auto real = ids("E:\\$RECYCLE.BIN\\real");
  auto evil = ids("E:\\$RECYCLE.BIN\\evil");
  struct stat keep {};
  ASSERT_EQ(0, ::stat((root + "/keep").c_str(), &keep));

  EXPECT_NE(0u, top.at("."));
  EXPECT_EQ(top.at("keep"), static_cast<std::uint64_t>(keep.st_ino));
  EXPECT_EQ(bin.at("."), top.at("$RECYCLE.BIN"));
  EXPECT_EQ(bin.at(".."), top.at("."));
  EXPECT_EQ(real.at(".."), bin.at("."));
  EXPECT_EQ(bin.at("evil"), top.at("keep"));
  EXPECT_EQ(evil.at("."), top.at("keep"));
  EXPECT_EQ(evil.at(".."), top.at("."));

  std::vector<platform::FileIdEntry> none;
  EXPECT_EQ(err::kPathNotFound, files.ListFileIds("E:\\missing", none));
  std::system(("find '" + root + "' -mindepth 1 -delete").c_str());
}

}  // namespace
