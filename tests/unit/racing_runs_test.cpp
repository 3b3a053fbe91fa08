// Several runs of the program at once: what another process does between
// this run's look and its act, played by the fake network.
#include <gtest/gtest.h>

#include "disk/mapping_record.h"
#include "disk/query.h"
#include "disk/samba_disk.h"
#include "support/applog_capture.h"
#include "support/sample_disk.h"
#include "support/fakes.h"

using namespace VkSharemapper;

namespace {

SambaDisk StarDisk(const std::string& drive) {
  SambaDisk disk = FilledDisk();
  disk.drive = drive;
  disk.anyLetter = true;
  disk.host = "srv";
  disk.location = "pub";
  return disk;
}

}  // namespace

// Another run takes the letter, then the next one, before this run connects.
TEST(RacingRuns, StarGoesOnWithTheNextFreeLetter) {
  for (const platform::ErrorCode taken : {platform::err::kAlreadyAssigned, platform::err::kDeviceAlreadyRemembered}) {
    fakes::Installed fake;
    fake.network.beforeAdd = [&](const platform::NetResource& resource) {
      if (resource.localName == "X:") return;
      if (taken == platform::err::kAlreadyAssigned) {
        fake.network.connections[resource.localName] = "\\\\other\\share";
      } else {
        fake.network.remembered[resource.localName] = "\\\\other\\share";
      }
    };
    SambaDisk disk = StarDisk("Z:");
    platform::ErrorCode error = 0;
    LogCapture log;
    ASSERT_TRUE(disk.Mount(error)) << taken;
    EXPECT_EQ(disk.drive, "X:");
    EXPECT_EQ(fake.network.addedLetters, (std::vector<std::string>{"Z:", "Y:", "X:"}));
    EXPECT_EQ(fake.network.connections["X:"], "\\\\srv\\pub");
    EXPECT_EQ(fake.registry.keys[kMountPoints2 + std::string("##srv#pub")][kValueLabel], "Docs");
    EXPECT_EQ(LogCapture::Tail(log.Lines().at(0)), "VkSharemapper::SambaDisk::Mount:143  INFO:  mapping net disk sucessed");
  }
}

TEST(RacingRuns, AGivenLetterIsNeverChanged) {
  fakes::Installed fake;
  fake.network.connections["Q:"] = "\\\\other\\share";
  SambaDisk disk = StarDisk("Q:");
  disk.anyLetter = false;
  platform::ErrorCode error = 0;
  EXPECT_FALSE(disk.Mount(error));
  EXPECT_EQ(error, platform::err::kAlreadyAssigned);
  EXPECT_EQ(fake.network.addCalls, 1);
}

// With every letter taken meanwhile the add fails, with one log line that
// carries the last refusal, and leaves no record behind.
TEST(RacingRuns, StarFailsWhenNoLetterIsLeft) {
  fakes::Installed fake;
  fake.network.beforeAdd = [&](const platform::NetResource& resource) {
    fake.network.connections[resource.localName] = "\\\\other\\share";
  };
  SambaDisk disk = StarDisk("Z:");
  platform::ErrorCode error = 0;
  LogCapture log;
  EXPECT_FALSE(disk.Mount(error));
  EXPECT_EQ(error, platform::err::kAlreadyAssigned);
  EXPECT_EQ(fake.network.addCalls, 26);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(LogCapture::Tail(log.Lines()[0]), "VkSharemapper::SambaDisk::Mount:148  ERR:  mapping net disk failed, errno: 85");
  EXPECT_EQ(fake.registry.keys.count(kMountPoints2 + std::string("##srv#pub")), 0u);
}

// Between this run's query and its delete, another run has put another
// share on the letter: that drive and its record stay.
TEST(RacingRuns, DeleteTakesOnlyTheConnectionItLookedAt) {
  fakes::Installed fake;
  fake.network.connections["E:"] = "\\\\srv\\old";
  DriveList list;
  QueryNetDisks(list);
  ASSERT_EQ(list.size(), 1u);

  fake.network.connections["E:"] = "\\\\srv\\new";
  const std::string newRecord = kMountPoints2 + std::string("##srv#new");
  fake.registry.keys[newRecord][kValueLabel] = "New";
  LogCapture log;
  EXPECT_FALSE(list[0]->Unmount());
  EXPECT_EQ(fake.network.connections["E:"], "\\\\srv\\new");
  EXPECT_EQ(fake.registry.keys.count(newRecord), 1u);
  EXPECT_EQ(LogCapture::Tail(log.Lines().at(0)), "VkSharemapper::SambaDisk::Unmount:202  ERR:  delete net disk failed, errno: 2250");
}
