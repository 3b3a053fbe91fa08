// The Windows program's runs that meet the system without a network
// provider: an add that MPR refuses, the delete of a letter no drive has, and
// the application log in its layout with CR LF line ends.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/golden.h"
#include "support/runner.h"

namespace {

// The head of a log line: [thread]year-month-day hour:minute:second:millisecond
const char kHead[] = R"(\[\d+\]\d{4}-\d{1,2}-\d{1,2} \d{1,2}:\d{1,2}:\d{1,2}:\d{1,3} )";

const std::vector<std::string> kAdd = {"--add",          "--domain=",       "--user=smtest",
                                       "--password=pw",  "--host=127.0.0.1", "--location=share",
                                       "--volume=Docs",  "--userid=1001",   "--dsid=77"};

// Without a network provider (Wine has none of its own), MPR refuses every
// connection: the add fails with 20000 and the log names MPR's code.
TEST(WindowsCli, AddRefusedByMprLogsItsCode) {
  testkit::Sandbox box("mpr");
  std::vector<std::string> args = kAdd;
  args.push_back("--drive=x");
  args.push_back("--outformat=json");
  const testkit::Run run = box.Sharemapper(args);
  EXPECT_EQ(run.status, testkit::kFailureStatus);
  EXPECT_EQ(run.out, testkit::Native(golden::Envelope("add_failed")));
  const std::string log = box.AppLog();
  const auto lines = testkit::Lines(log);
  ASSERT_EQ(lines.size(), 1u) << log;
  const std::string code = testkit::UnderWine() ? "1222" : R"(\d+)";  // ERROR_NO_NETWORK
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kHead) +
                                                    R"(VkSharemapper::SambaDisk::Mount:148  ERR:  mapping net disk failed, errno: )" +
                                                    code)))
      << lines[0];
  // Every line of the log ends in CR LF.
  EXPECT_EQ(log, lines[0] + "\r\n");
}

TEST(WindowsCli, DeleteOfAnUnknownLetter) {
  testkit::Sandbox box("unknown");
  const testkit::Run form = box.Sharemapper({"--del", "--drive=q"});
  EXPECT_EQ(form.status, testkit::kFailureStatus);
  EXPECT_EQ(form.out, testkit::Native(golden::FormLine("delete_not_found")));
  const testkit::Run json = box.Sharemapper({"--del", "--drive=q", "--outformat=json"});
  EXPECT_EQ(json.status, testkit::kFailureStatus);
  EXPECT_EQ(json.out, testkit::Native(golden::Envelope("delete_not_found")));
}

}  // namespace
