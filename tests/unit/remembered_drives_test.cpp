// What the portable code does with drives Windows remembers in the user's
// profile: listed, skipped by "*", forgotten by a delete, and never a reason
// to touch Explorer's own keys.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/commands.h"
#include "cli/options.h"
#include "disk/mapping_record.h"
#include "disk/query.h"
#include "support/fakes.h"

using namespace VkSharemapper;

namespace {

const std::string kParent = kMountPoints2;

std::string DeleteByLetter(const std::string& drive) {
  SmOption options;
  options.del = true;
  options.form = true;
  options.drive = drive;
  options.driveGiven = true;
  std::ostringstream out;
  RunDeleteCommand(options, out);
  return out.str();
}

}  // namespace

TEST(RememberedDrives, ListedWithTheirRecordOrWithoutAName) {
  fakes::Installed fake;
  fake.network.remembered["G:"] = "\\\\srv\\pub";
  fake.network.remembered["H:"] = "";
  fake.registry.keys[kParent + "##srv#pub"][kValueLabel] = "Pub";
  DriveList list;
  QueryNetDisks(list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->volume, "Pub");
  EXPECT_EQ(list[1]->drive, "H:");
  EXPECT_EQ(list[1]->userid, "dummy");
}

TEST(RememberedDrives, DeleteForgetsTheConnection) {
  fakes::Installed fake;
  fake.network.remembered["G:"] = "\\\\srv\\pub";
  fake.registry.keys[kParent + "##srv#pub"][kValueLabel] = "Pub";
  EXPECT_EQ(DeleteByLetter("G:"), "delete success\n");
  EXPECT_TRUE(fake.network.remembered.empty());
  EXPECT_EQ(fake.network.lastCancelFlags, platform::net::kUpdateProfile);
  EXPECT_EQ(fake.registry.keys.count(kParent + "##srv#pub"), 0u);
}

// A remembered connection that reports no name has no record: the delete
// cancels it and leaves every key of MountPoints2 as it was.
TEST(RememberedDrives, ExplorerKeysSurviveTheDeleteOfANamelessDrive) {
  fakes::Installed fake;
  fake.network.remembered["H:"] = "";
  const std::string volume = kParent + "{8a2c1f3e-0000-0000-0000-100000000000}";
  const std::string share = kParent + "##fileserver#team";
  fake.registry.keys[volume]["BaseClass"] = "Drive";
  fake.registry.keys[share]["_CommentFromDesktopINI"] = "";
  fake.registry.keys[share]["_LabelFromReg"] = "Team";
  const auto before = fake.registry.keys;

  EXPECT_EQ(DeleteByLetter("H:"), "delete success\n");
  EXPECT_TRUE(fake.network.remembered.empty());
  EXPECT_EQ(fake.registry.keys, before);
}

TEST(RememberedDrives, StarSkipsARememberedLetter) {
  fakes::Installed fake;
  fake.network.remembered["Z:"] = "\\\\srv\\pub";
  fake.network.connections["Y:"] = std::string(300, 'n');  // only its length is reported
  std::string drive;
  ASSERT_TRUE(GetFreeDriveLetter(drive));
  EXPECT_EQ(drive, "X:");
}
