#include "samba/samba_sandbox.h"

#include "disk/mapping_record.h"
#include "platform/posix/drives.h"
#include "platform/posix/registry.h"
#include "support/golden.h"
#include "utils/vkreg.h"

namespace smtest {

std::vector<std::string> AddValues::Args(bool json) const {
  std::vector<std::string> args{"--add",  "--domain",   domain,  "--user", user,     "--password", password,
                                "--host", host,         "--location", location, "--drive", drive,
                                "--volume", volume,     "--userid", userid, "--dsid", dsid};
  if (json) args.push_back("--outformat=json");
  return args;
}

AddValues On(const std::string& drive, const std::string& location, const std::string& volume) {
  AddValues values;
  values.drive = drive;
  values.location = location;
  values.volume = volume;
  return values;
}

void ExpectDocsOnE(const std::vector<testkit::Listed>& drives) {
  const testkit::Listed* e = testkit::FindDrive(drives, "E:");
  ASSERT_NE(e, nullptr) << testkit::Letters(drives);
  EXPECT_EQ(e->host, "127.0.0.1");
  EXPECT_EQ(e->location, "\\pub\\docs");
  EXPECT_EQ(e->volumename, "Docs");
  EXPECT_EQ(e->userid, "1001");
  EXPECT_EQ(e->dsid, "77");
}

void SambaSandbox::SetUp() {
  SM_REQUIRE_SAMBA(running);
  box_ = std::make_unique<testkit::Sandbox>(::testing::UnitTest::GetInstance()->current_test_info()->name());
  box_->Use();
  platform::posix::UserDrives().CloseTableForTests();
  platform::posix::ResetKeyStore();
}

void SambaSandbox::TearDown() {
  platform::posix::UserDrives().CloseTableForTests();
  platform::posix::ResetKeyStore();
  box_.reset();
}

std::string SambaSandbox::StoreFile() const { return box_->config + "/sharemapper/registry.db"; }
std::string SambaSandbox::TableFolder() const { return box_->runtime + "/sharemapper"; }
std::string SambaSandbox::TableFile() const { return TableFolder() + "/connections.db"; }

::testing::AssertionResult SambaSandbox::Added(const AddValues& values) const {
  const testkit::Run run = Run(values.Args(false));
  if (run.out == golden::FormLine("add_success") && run.status == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "add of " << values.drive << " gave " << run.status << ": " << run.out
                                       << box_->AppLog();
}

::testing::AssertionResult SambaSandbox::Deleted(const std::string& drive) const {
  const testkit::Run run = Run({"--del", "--drive=" + drive});
  if (run.out == golden::FormLine("delete_success") && run.status == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "delete of " << drive << " gave " << run.status << ": " << run.out
                                       << box_->AppLog();
}

std::vector<testkit::Listed> SambaSandbox::Query() const {
  std::vector<testkit::Listed> drives;
  EXPECT_TRUE(testkit::QueryList(Run({"--outformat=json"}), drives));
  return drives;
}

void SambaSandbox::ExpectOnlyEAndWorking() const {
  const std::vector<testkit::Listed> drives = Query();
  EXPECT_EQ(testkit::Letters(drives), "E");
  ExpectDocsOnE(drives);
  ASSERT_TRUE(Added(On("f", "team")));
  EXPECT_TRUE(Deleted("e"));
  EXPECT_TRUE(Deleted("f"));
}

void SambaSandbox::ExpectAddFailed(const testkit::Run& run, const std::string& errorNumber) const {
  EXPECT_EQ(run.out, golden::Envelope("add_failed"));
  EXPECT_EQ(run.status, testkit::kFailureStatus);
  EXPECT_EQ(run.err, "");
  const std::string line = "mapping net disk failed, errno: " + errorNumber;
  EXPECT_NE(box_->AppLog().find(errorNumber.empty() ? line : line + "\n"), std::string::npos) << box_->AppLog();
}

std::string SambaSandbox::Read(const std::string& key, const std::string& name) {
  platform::posix::ResetKeyStore();
  std::string path = VkSharemapper::kMountPoints2 + key;
  std::string value = "<none>";
  std::string valueName = name;
  DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, path, valueName, value);
  platform::posix::ResetKeyStore();
  return value;
}

}  // namespace smtest
