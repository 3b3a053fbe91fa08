// The end-to-end suites' fixture: the loopback Samba server and a sandbox
// (a private working folder, key store and connection table) for each test,
// which this test process uses too, so that a test can look at the store
// and the table directly.
//
//   class MySuite : public smtest::SambaSandbox {};
//   TEST_F(MySuite, Something) {
//     ASSERT_TRUE(Added(smtest::On("e", "pub\\docs")));
//     EXPECT_EQ(testkit::Letters(Query()), "E");
//   }
//
// A test is skipped when the server cannot run on this machine and fails
// when it should run but does not start. Suites that use it carry the CTest
// properties RESOURCE_LOCK smbd and FIXTURES_REQUIRED samba_server.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "samba/samba_server.h"
#include "support/envelope.h"
#include "support/runner.h"

namespace smtest {

// The nine values of an add, for the test account on the loopback server.
struct AddValues {
  std::string domain;
  std::string user = SambaServer::User();
  std::string password = SambaServer::Password();
  std::string host = SambaServer::Host();
  std::string location = "pub\\docs";
  std::string drive = "e";
  std::string volume = "Docs";
  std::string userid = "1001";
  std::string dsid = "77";

  // Each value as a word of its own, so that any bytes (and any length) reach
  // the program as they are.
  std::vector<std::string> Args(bool json = true) const;
};

// The add of `location` on `drive` with the label `volume`.
AddValues On(const std::string& drive, const std::string& location, const std::string& volume = "Docs");

// E: with the values of On("e", "pub\\docs") as the query lists them.
void ExpectDocsOnE(const std::vector<testkit::Listed>& drives);

class SambaSandbox : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static SambaServer& server() { return SharedSambaServer(); }

  std::string StoreFile() const;
  std::string TableFolder() const;
  std::string TableFile() const;

  testkit::Run Run(const std::vector<std::string>& args) const { return box_->Sharemapper(args); }

  // An add or a delete that succeeded, in form output.
  ::testing::AssertionResult Added(const AddValues& values) const;
  ::testing::AssertionResult Deleted(const std::string& drive) const;

  // The drives the JSON query lists.
  std::vector<testkit::Listed> Query() const;

  // After a fault is mended: E alone is listed, with the values of
  // On("e", "pub\\docs"), and F can be added and both deleted.
  void ExpectOnlyEAndWorking() const;

  // An add that failed: the envelope, the exit status, and the number in the
  // log's "mapping net disk failed" line (any number when none is given).
  void ExpectAddFailed(const testkit::Run& run, const std::string& errorNumber = "") const;
  void ExpectAddFailed(const testkit::Run& run, unsigned long errorNumber) const {
    ExpectAddFailed(run, std::to_string(errorNumber));
  }

  // A value of the mapping record `key` (below MountPoints2), "<none>" when
  // it cannot be read. The store is read afresh.
  static std::string Read(const std::string& key, const std::string& name);

  std::unique_ptr<testkit::Sandbox> box_;
};

}  // namespace smtest
