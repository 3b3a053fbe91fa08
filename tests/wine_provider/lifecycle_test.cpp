// The life cycle of a drive through Wine's own MPR and the test network
// provider: sharemapper.exe adds, lists and deletes drives with the real
// WNetAddConnection2A, WNetGetConnectionA and WNetCancelConnection2A, writes
// the record into Wine's registry and walks the recycle bin with the real
// file functions. \\127.0.0.1\share is a folder of the test prefix
// (setup_prefix.sh), reached here through its UNC name.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "support/golden.h"
#include "support/runner.h"

namespace {

const char kShare[] = "\\\\127.0.0.1\\share";
const char kRecordKey[] =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2\\##127.0.0.1#share";

std::vector<std::string> Add(const std::string& drive, const std::string& volume,
                             const std::string& user = "smtest") {
  return {"--add",           "--domain=",        "--user=" + user, "--password=Sm-Test-Pass1",
          "--host=127.0.0.1", "--location=share", "--drive=" + drive, "--volume=" + volume,
          "--userid=1001",   "--dsid=77"};
}

std::vector<std::string> Json(std::vector<std::string> args) {
  args.push_back("--outformat=json");
  return args;
}

std::string Envelope(int code, const std::string& message, bool success, const std::string& data = "{}") {
  return "{\"data\":" + data + ",\"errorCode\":" + std::to_string(code) + ",\"message\":\"" + message +
         "\",\"success\":" + (success ? "true" : "false") + "}\r\n";
}

// The test provider, sharemapper and `reg` all see this prefix's registry.
class WineLifecycle : public ::testing::Test {
 protected:
  void TearDown() override {
    // Whatever a failed test left connected goes, so the next starts clean.
    for (const char* letter : {"x", "y"}) box_.Sharemapper({"--del", std::string("--drive=") + letter});
  }

  // `reg query` of the mapping record: its output, or empty when the key is absent.
  std::string RegQuery() const {
    const testkit::Run run = box_.Command("C:\\windows\\system32\\reg.exe", {"query", kRecordKey});
    return run.status == 0 ? run.out : std::string();
  }

  testkit::Sandbox box_{"lifecycle"};
};

TEST_F(WineLifecycle, AddQueryAndDeleteByLetter) {
  const testkit::Run add = box_.Sharemapper(Add("x", "Docs"));
  ASSERT_EQ(add.out, testkit::Native(golden::FormLine("add_success")));
  EXPECT_EQ(add.status, 0);
  const std::string record = RegQuery();
  EXPECT_TRUE(std::regex_search(record, std::regex(R"(_LabelFromReg\s+REG_SZ\s+Docs\r\n)"))) << record;
  EXPECT_TRUE(std::regex_search(record, std::regex(R"(_VkUserId\s+REG_SZ\s+1001\r\n)"))) << record;
  EXPECT_TRUE(std::regex_search(record, std::regex(R"(_VkDiskSessionId\s+REG_SZ\s+77\r\n)"))) << record;

  const testkit::Run form = box_.Sharemapper({});
  EXPECT_EQ(form.out, testkit::Native(golden::QueryHeader() +
                                      "X:\t127.0.0.1\t\t1001\t\t\t77\t\t\t\t\\share\t\t\t\t\t\tDocs\n"
                                      ".\n"));
  const testkit::Run json = box_.Sharemapper({"--outformat=json"});
  EXPECT_EQ(json.out, Envelope(0, "query success", true,
                               "[{\"drive\":\"X:\",\"dsid\":\"77\",\"host\":\"127.0.0.1\",\"location\":\"\\\\share\","
                               "\"userid\":\"1001\",\"volumename\":\"Docs\"}]"));

  const testkit::Run del = box_.Sharemapper({"--del", "--drive=x"});
  EXPECT_EQ(del.out, testkit::Native(golden::FormLine("delete_success")));
  EXPECT_EQ(del.status, 0);
  EXPECT_EQ(RegQuery(), "");
  EXPECT_EQ(box_.Sharemapper({"--outformat=json"}).out, testkit::Native(golden::Envelope("query_empty")));
}

// --drive=* takes the highest free letter; Z: is Wine's own root drive.
TEST_F(WineLifecycle, AddInJsonAndDeleteByVolume) {
  const testkit::Run add = box_.Sharemapper(Json(Add("*", "Photos")));
  ASSERT_EQ(add.out, testkit::Native(golden::Envelope("add_success")));
  EXPECT_TRUE(std::regex_search(RegQuery(), std::regex(R"(_LabelFromReg\s+REG_SZ\s+Photos\r\n)")));
  const testkit::Run json = box_.Sharemapper({"--outformat=json"});
  EXPECT_NE(json.out.find("\"drive\":\"Y:\""), std::string::npos) << json.out;

  const testkit::Run del = box_.Sharemapper(Json({"--del", "--volume=Photos"}));
  EXPECT_EQ(del.out, testkit::Native(golden::Envelope("delete_success")));
  EXPECT_EQ(RegQuery(), "");
}

// A label of code page 1252 arrives as the program's argument in that page
// and comes back from the query as the same characters in UTF-8.
TEST_F(WineLifecycle, NonAsciiLabelRoundTripsAsUtf8) {
  const UINT page = ::GetACP();
  if (page != 1252) GTEST_SKIP() << "the label is in code page 1252; this system's ANSI page is " << page;
  ASSERT_EQ(box_.Sharemapper(Add("x", "Caf\xE9 \xDC" "ber")).out, testkit::Native(golden::FormLine("add_success")));
  const testkit::Run json = box_.Sharemapper({"--outformat=json"});
  EXPECT_NE(json.out.find("\"volumename\":\"Caf\xC3\xA9 \xC3\x9C" "ber\""), std::string::npos) << json.out;
  // The form table gives the label's bytes as they are.
  const testkit::Run form = box_.Sharemapper({});
  EXPECT_NE(form.out.find("\tCaf\xE9 \xDC" "ber\r\n"), std::string::npos) << form.out;
}

TEST_F(WineLifecycle, LetterInUseIsRefusedWith85) {
  ASSERT_EQ(box_.Sharemapper(Add("x", "Docs")).status, 0);
  const testkit::Run again = box_.Sharemapper(Json(Add("x", "Other")));
  EXPECT_EQ(again.out, testkit::Native(golden::Envelope("add_failed")));
  EXPECT_EQ(again.status, testkit::kFailureStatus);
  EXPECT_NE(box_.AppLog().find("Mount:148  ERR:  mapping net disk failed, errno: 85\r\n"), std::string::npos)
      << box_.AppLog();
}

TEST_F(WineLifecycle, AnotherAccountOnAConnectedServerIsRefusedWith20001) {
  ASSERT_EQ(box_.Sharemapper(Add("x", "Docs")).status, 0);
  const testkit::Run other = box_.Sharemapper(Json(Add("y", "Other", "someoneelse")));
  EXPECT_EQ(other.out, testkit::Native(golden::Envelope("add_conflict")));
  EXPECT_EQ(other.status, testkit::kFailureStatus);
  EXPECT_NE(box_.AppLog().find("errno: 1219\r\n"), std::string::npos) << box_.AppLog();
}

// The recycle bin of the new drive goes, through the real folder listing,
// DeleteFileA and RemoveDirectoryA: a read-only file and a hidden system
// folder are removed, a folder kept by a dot-file stays (and so does the
// bin that holds it).
TEST_F(WineLifecycle, RecycleBinIsWalkedOnAdd) {
  const std::string bin = std::string(kShare) + "\\$RECYCLE.BIN";
  ASSERT_TRUE(::CreateDirectoryA(bin.c_str(), nullptr));
  ASSERT_TRUE(testkit::WriteFile(bin + "\\readonly.txt", "r"));
  ASSERT_TRUE(::SetFileAttributesA((bin + "\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(::CreateDirectoryA((bin + "\\S-1-5-21").c_str(), nullptr));
  ASSERT_TRUE(testkit::WriteFile(bin + "\\S-1-5-21\\$I123.txt", "i"));
  ASSERT_TRUE(::SetFileAttributesA((bin + "\\S-1-5-21").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(::CreateDirectoryA((bin + "\\kept").c_str(), nullptr));
  ASSERT_TRUE(testkit::WriteFile(bin + "\\kept\\.keep", ""));

  ASSERT_EQ(box_.Sharemapper(Add("x", "Docs")).status, 0);
  EXPECT_NE(box_.AppLog().find("Mount:173  INFO:  try delete RECYCLE.BIN\r\n"), std::string::npos) << box_.AppLog();
  EXPECT_EQ(::GetFileAttributesA((bin + "\\readonly.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(::GetFileAttributesA((bin + "\\S-1-5-21").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(::GetFileAttributesA((bin + "\\kept\\.keep").c_str()), INVALID_FILE_ATTRIBUTES);
  // The drive reaches the same folder.
  EXPECT_NE(::GetFileAttributesA("X:\\$RECYCLE.BIN\\kept"), INVALID_FILE_ATTRIBUTES);

  ::DeleteFileA((bin + "\\kept\\.keep").c_str());
  ::RemoveDirectoryA((bin + "\\kept").c_str());
  ::RemoveDirectoryA(bin.c_str());
}

TEST_F(WineLifecycle, DeleteOfALetterNeverConnectedIsRefused) {
  const testkit::Run del = box_.Sharemapper(Json({"--del", "--drive=x"}));
  EXPECT_EQ(del.out, testkit::Native(golden::Envelope("delete_not_found")));
  EXPECT_EQ(del.status, testkit::kFailureStatus);
}

}  // namespace
