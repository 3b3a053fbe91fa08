#include <gtest/gtest.h>

#include "disk/mapping_record.h"
#include "disk/query.h"
#include "disk/samba_disk.h"
#include "support/applog_capture.h"
#include "support/fakes.h"
#include "support/golden.h"
#include "support/sample_disk.h"

using VkSharemapper::DriveList;
using VkSharemapper::kValueDiskSessionId;
using VkSharemapper::kValueLabel;
using VkSharemapper::kValueUserId;
using VkSharemapper::MappingKeyPath;
using VkSharemapper::MappingKeyPathFromRemote;
using VkSharemapper::QueryNetDisks;
using VkSharemapper::SambaDisk;
using VkSharemapper::SplitRemoteName;

namespace {

const std::string kParent = VkSharemapper::kMountPoints2;


}  // namespace

TEST(MappingRecord, KeyNamesFromEachSideAgree) {
  EXPECT_EQ(MappingKeyPath("10.0.0.5", "a\\b\\c"), kParent + "##10.0.0.5#a#b#c");
  EXPECT_EQ(MappingKeyPath("srv", "a/b"), kParent + "##srv#a/b");
  EXPECT_EQ(MappingKeyPath("srv", "a\\"), kParent + "##srv#a#");
  EXPECT_EQ(MappingKeyPathFromRemote("\\\\srv\\pub\\docs\\2024"), kParent + "##srv#pub#docs#2024");
  EXPECT_EQ(MappingKeyPathFromRemote("\\\\srv\\pub"), MappingKeyPath("srv", "pub"));
}

// Deleting what such a name would make of the key path would take
// MountPoints2 itself, or a key of Explorer's beside the records.
TEST(MappingRecord, OnlyAShareNamesAKey) {
  for (const char* remote : {"", "\\\\", "\\\\srv", "\\\\srv\\", "\\\\\\pub", "\\srv\\pub", "srv\\pub",
                             "\\\\srv\\\\pub", "//srv/pub"}) {
    EXPECT_EQ(MappingKeyPathFromRemote(remote), "") << remote;
  }
  EXPECT_EQ(MappingKeyPath("", "pub"), "");
  EXPECT_EQ(MappingKeyPath("srv", "\\pub"), "");
}

TEST(Query, SplitsRemoteNames) {
  struct Case {
    const char* remote;
    const char* host;
    const char* location;
  } cases[] = {{"\\\\srv\\pub", "srv", "\\pub"},
               {"\\\\srv\\pub\\docs", "srv", "\\pub\\docs"},
               {"\\\\srv\\pub\\", "srv", "\\pub"},
               {"\\\\srv", "srv", "\\"},
               {"\\\\127.0.0.1\\user\\12345", "127.0.0.1", "\\user\\12345"}};
  for (const Case& c : cases) {
    std::string host, location;
    SplitRemoteName(c.remote, host, location);
    EXPECT_EQ(host, c.host) << c.remote;
    EXPECT_EQ(location, c.location) << c.remote;
  }
}

TEST(Mount, ConnectsRecordsAndLogsInOrder) {
  fakes::Installed fake;
  LogCapture log;
  SambaDisk disk = FilledDisk();
  platform::ErrorCode error = 0;
  ASSERT_TRUE(disk.Mount(error));
  EXPECT_TRUE(disk.mounted);
  EXPECT_EQ(error, 0u);

  EXPECT_EQ(fake.network.lastResource.remoteName, "\\\\10.0.0.5\\user\\12345");
  EXPECT_EQ(fake.network.lastResource.localName, "E:");
  EXPECT_EQ(fake.network.lastResource.scope, platform::net::kScopeGlobalNet);
  EXPECT_EQ(fake.network.lastResource.type, platform::net::kTypeDisk);
  EXPECT_EQ(fake.network.lastResource.displayType, platform::net::kDisplayTypeShare);
  EXPECT_EQ(fake.network.lastResource.usage, platform::net::kUsageConnectable);
  EXPECT_EQ(fake.network.lastUser, "CORP\\bob");
  EXPECT_EQ(fake.network.lastPassword, "s3cret");
  EXPECT_EQ(fake.network.lastFlags, platform::net::kConnectTemporary);

  EXPECT_EQ(fake.registry.Listing(), golden::MappingRecord());
  EXPECT_EQ(fake.registry.OpenHandles(), 0u);

  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);  // no recycle bin on this drive
  EXPECT_EQ(lines[0], "[5124]2024-3-7 9:5:2:17 VkSharemapper::SambaDisk::Mount:143  INFO:  mapping net disk sucessed");
  EXPECT_EQ(LogCapture::Tail(lines[1]), "VkSharemapper::SambaDisk::Mount:169  INFO:  Samba disk mount: 1");

  // A second Mount does nothing at all.
  const int calls = fake.network.addCalls;
  EXPECT_TRUE(disk.Mount(error));
  EXPECT_EQ(fake.network.addCalls, calls);
  EXPECT_EQ(log.Lines().size(), 2u);
}

TEST(Mount, AccountWithoutDomainIsTheUserAlone) {
  fakes::Installed fake;
  SambaDisk disk = FilledDisk();
  disk.domain.clear();
  platform::ErrorCode error = 0;
  EXPECT_TRUE(disk.Mount(error));
  EXPECT_EQ(fake.network.lastUser, "bob");
}

TEST(Mount, MissingFieldIsLoggedWithoutThePassword) {
  fakes::Installed fake;
  LogCapture log;
  SambaDisk disk = FilledDisk();
  disk.host.clear();
  platform::ErrorCode error = 0;
  EXPECT_FALSE(disk.Mount(error));
  EXPECT_EQ(fake.network.addCalls, 0);
  EXPECT_EQ(fake.registry.calls, 0);
  EXPECT_EQ(fake.system.tokenCalls, 0);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(LogCapture::Tail(log.Lines()[0]),
            "VkSharemapper::SambaDisk::Mount:114  ERR:  missing Parameter, can't mount samdisk "
            "E:user\\12345bob***Docs1001");

  LogCapture second;
  SambaDisk noPassword = FilledDisk();
  noPassword.password.clear();
  EXPECT_FALSE(noPassword.Mount(error));
  EXPECT_EQ(LogCapture::Tail(second.Lines()[0]),
            "VkSharemapper::SambaDisk::Mount:114  ERR:  missing Parameter, can't mount samdisk "
            "E:10.0.0.5user\\12345bobDocs1001");
  EXPECT_EQ(error, 0u);

  // Domain and dsid may be empty; volume and userid may not.
  for (auto clear : {&SambaDisk::volume, &SambaDisk::userid}) {
    SambaDisk d = FilledDisk();
    d.*clear = "";
    EXPECT_FALSE(d.Mount(error));
  }
  EXPECT_EQ(fake.network.addCalls, 0);
}

TEST(Mount, RefusedConnectionKeepsItsNumber) {
  fakes::Installed fake;
  fake.network.connections["E:"] = "\\\\other\\share";
  LogCapture log;
  SambaDisk disk = FilledDisk();
  platform::ErrorCode error = 0;
  EXPECT_FALSE(disk.Mount(error));
  EXPECT_FALSE(disk.mounted);
  EXPECT_EQ(error, 85u);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(LogCapture::Tail(log.Lines()[0]), "VkSharemapper::SambaDisk::Mount:148  ERR:  mapping net disk failed, errno: 85");
  EXPECT_TRUE(fake.registry.keys.empty());
}

TEST(Mount, OverlongRemoteNameNeverReachesTheNetwork) {
  fakes::Installed fake;
  LogCapture log;
  SambaDisk disk = FilledDisk();
  disk.location = std::string(260 - 2 - 8 - 1 - 1, 'x');  // remote name of exactly 259 characters
  platform::ErrorCode error = 0;
  EXPECT_TRUE(disk.Mount(error));
  EXPECT_EQ(fake.network.addCalls, 1);

  SambaDisk longer = FilledDisk();
  longer.drive = "F:";
  longer.location = std::string(260 - 2 - 8 - 1, 'x');  // 260 characters
  EXPECT_FALSE(longer.Mount(error));
  EXPECT_EQ(error, 206u);
  EXPECT_EQ(fake.network.addCalls, 1);
  EXPECT_EQ(LogCapture::Tail(log.Lines().back()), "VkSharemapper::SambaDisk::Mount:148  ERR:  mapping net disk failed, errno: 206");
}

TEST(Mount, EmptyDsidConnectsButReportsFailure) {
  fakes::Installed fake;
  LogCapture log;
  SambaDisk disk = FilledDisk();
  disk.dsid.clear();
  platform::ErrorCode error = 0;
  EXPECT_FALSE(disk.Mount(error));
  EXPECT_TRUE(disk.mounted);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(fake.network.connections.count("E:"), 1u);
  const std::string key = kParent + "##10.0.0.5#user#12345";
  EXPECT_TRUE(fake.registry.HasValue(key, kValueLabel));
  EXPECT_TRUE(fake.registry.HasValue(key, kValueUserId));
  EXPECT_FALSE(fake.registry.HasValue(key, kValueDiskSessionId));
  EXPECT_EQ(LogCapture::Tail(log.Lines().back()), "VkSharemapper::SambaDisk::Mount:169  INFO:  Samba disk mount: 0");
}

TEST(Mount, RegistryFailureStillEmptiesTheRecycleBin) {
  fakes::Installed fake;
  fake.registry.failCreate = true;
  fake.files.AddDir("E:\\$RECYCLE.BIN");
  fake.files.AddFile("E:\\$RECYCLE.BIN\\old.txt");
  LogCapture log;
  SambaDisk disk = FilledDisk();
  platform::ErrorCode error = 0;
  EXPECT_FALSE(disk.Mount(error));
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(LogCapture::Tail(lines[1]), "VkSharemapper::SambaDisk::Mount:169  INFO:  Samba disk mount: 0");
  EXPECT_EQ(LogCapture::Tail(lines[2]), "VkSharemapper::SambaDisk::Mount:173  INFO:  try delete RECYCLE.BIN");
  EXPECT_FALSE(fake.files.Exists("E:\\$RECYCLE.BIN"));
}

TEST(Unmount, RemovesRecordThenConnection) {
  fakes::Installed fake;
  fake.network.connections["E:"] = "\\\\srv\\pub\\docs";
  const std::string key = kParent + "##srv#pub#docs";
  fake.registry.keys[key][kValueLabel] = "Docs";
  LogCapture log;

  SambaDisk disk;
  disk.drive = "E:";
  disk.host = "srv";
  disk.location = "\\pub\\docs";
  disk.mounted = true;
  EXPECT_TRUE(disk.Unmount());
  EXPECT_FALSE(disk.mounted);
  EXPECT_FALSE(fake.registry.keys.count(key));
  EXPECT_TRUE(fake.network.connections.empty());
  EXPECT_TRUE(fake.network.lastForce);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(LogCapture::Tail(log.Lines()[0]), "VkSharemapper::SambaDisk::Unmount:198  INFO:  delete net disk sucessed");

  // Not mounted: nothing is touched.
  const int registryCalls = fake.registry.calls;
  const int tokenCalls = fake.system.tokenCalls;
  EXPECT_TRUE(SambaDisk().Unmount());
  EXPECT_EQ(fake.registry.calls, registryCalls);
  EXPECT_EQ(fake.system.tokenCalls, tokenCalls);
  EXPECT_EQ(fake.network.cancelCalls, 1);
}

TEST(Unmount, FailedRecordDeletionStillDisconnects) {
  fakes::Installed fake;
  fake.network.connections["E:"] = "\\\\srv\\pub";
  const std::string key = kParent + "##srv#pub";
  fake.registry.keys[key][kValueLabel] = "Docs";
  fake.registry.failDelete.insert(key);
  LogCapture log;

  SambaDisk disk;
  disk.drive = "E:";
  disk.host = "srv";
  disk.location = "\\pub";
  disk.mounted = true;
  EXPECT_FALSE(disk.Unmount());
  EXPECT_FALSE(disk.mounted);
  EXPECT_TRUE(fake.network.connections.empty());
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(LogCapture::Tail(lines[0]), "VkSharemapper::SambaDisk::Unmount:192  ERR:  delete MountPoints2 key failed");
  EXPECT_EQ(LogCapture::Tail(lines[1]), "VkSharemapper::SambaDisk::Unmount:198  INFO:  delete net disk sucessed");
}

TEST(Unmount, FailedDisconnectionKeepsMountedButNotTheRecord) {
  fakes::Installed fake;
  const std::string key = kParent + "##srv#pub";
  fake.registry.keys[key][kValueLabel] = "Docs";
  fake.network.cancelResult = 2250;
  LogCapture log;

  SambaDisk disk;
  disk.drive = "E:";
  disk.host = "srv";
  disk.location = "\\pub";
  disk.mounted = true;
  EXPECT_FALSE(disk.Unmount());
  EXPECT_TRUE(disk.mounted);
  EXPECT_FALSE(fake.registry.keys.count(key));
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(LogCapture::Tail(log.Lines()[0]), "VkSharemapper::SambaDisk::Unmount:202  ERR:  delete net disk failed, errno: 2250");
}

TEST(Query, ListsNetworkDrivesInLetterOrderWithDefaults) {
  fakes::Installed fake;
  fake.network.connections["Z:"] = "\\\\srv\\other";
  fake.network.connections["E:"] = "\\\\srv\\pub\\docs";
  fake.network.remembered["G:"] = "\\\\srv\\remembered";
  fake.network.volumes["Z:"] = "other";
  const std::string key = kParent + "##srv#pub#docs";
  fake.registry.keys[key][kValueLabel] = "Docs";
  fake.registry.keys[key][kValueUserId] = "u1";
  fake.registry.keys[key][kValueDiskSessionId] = "s1";

  DriveList list;
  EXPECT_TRUE(QueryNetDisks(list));
  ASSERT_EQ(list.size(), 3u);
  const SambaDisk& e = *list[0];
  EXPECT_EQ(e.drive, "E:");
  EXPECT_EQ(e.host, "srv");
  EXPECT_EQ(e.location, "\\pub\\docs");
  EXPECT_EQ(e.userid, "u1");
  EXPECT_EQ(e.volume, "Docs");
  EXPECT_EQ(e.dsid, "s1");
  EXPECT_TRUE(e.mounted);
  EXPECT_TRUE(e.domain.empty() && e.user.empty() && e.password.empty());

  EXPECT_EQ(list[1]->drive, "G:");  // remembered connections are listed too
  EXPECT_EQ(list[1]->volume, "");   // no record, no volume name
  EXPECT_EQ(list[2]->drive, "Z:");
  EXPECT_EQ(list[2]->userid, "dummy");
  EXPECT_EQ(list[2]->dsid, "dummy");
  EXPECT_EQ(list[2]->volume, "other");
}

TEST(Query, LongRemoteNamesAreStillListed) {
  fakes::Installed fake;
  const std::string longName = "\\\\server.example.internal\\" + std::string(90, 's');
  fake.network.connections["D:"] = longName;
  fake.network.connections["F:"] = "\\\\srv\\pub";
  DriveList list;
  QueryNetDisks(list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->location, "\\" + std::string(90, 's'));
  EXPECT_EQ(list[1]->drive, "F:");
}

// However the location was spelled, the delete removes the record the add
// wrote and the query read, and only that one.
TEST(Unmount, DeletesTheRecordTheQueryReadForEverySpelling) {
  for (const char* spelling : {"pub/d1", "pub\\.\\d1", "pub\\\\d1", "pub\\d1\\", "pub//d1", "pub\\d1/", "pub\\d1\\.",
                               "pub\\d1"}) {
    fakes::Installed fake;
    SambaDisk other = FilledDisk();
    other.drive = "F:";
    other.host = "srv";
    other.location = std::string(spelling) == "pub\\d1" ? "pub/d1" : "pub\\d1";
    platform::ErrorCode error = 0;
    ASSERT_TRUE(other.Mount(error));
    const auto otherRecord = fake.registry.keys;

    SambaDisk disk = FilledDisk();
    disk.host = "srv";
    disk.location = spelling;
    ASSERT_TRUE(disk.Mount(error)) << spelling;

    DriveList list;
    QueryNetDisks(list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->dsid, "77") << spelling;  // the query reads E:'s record
    ASSERT_TRUE(list[0]->Unmount()) << spelling;
    EXPECT_EQ(fake.registry.keys, otherRecord) << spelling;  // E:'s gone, F:'s untouched
  }
}
