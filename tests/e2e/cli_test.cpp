// The binary's command line, output and exit statuses, without a server.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <iostream>
#include <regex>

#include "support/runner.h"
#include "support/golden.h"

using testkit::kFailureStatus;
using testkit::Native;
using testkit::Quoted;
using testkit::Sandbox;

namespace {
const std::vector<std::string> kAllNine = {"--add",      "--domain=",   "--user=u",   "--password=p", "--host=h",
                                           "--location=l", "--volume=v", "--userid=1", "--dsid=2"};
std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}
}  // namespace

TEST(Cli, HelpListingAndStatus) {
  Sandbox box("help");
  const testkit::Run run = box.Sharemapper({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, Native(golden::HelpListing(testkit::BinaryName())));
}

TEST(Cli, IncompleteCommandsPrintTheirListing) {
  Sandbox box("listing");
  for (const auto& args : {std::vector<std::string>{"--add", "--host=h"},
                           std::vector<std::string>{"--add", "--host=h", "--outformat=json"}}) {
    const testkit::Run run = box.Sharemapper(args);
    EXPECT_EQ(run.status, kFailureStatus);
    EXPECT_EQ(run.out, Native(golden::DfsListing(testkit::BinaryName(), "[--option value ] ; all list must")));
  }
  const testkit::Run del = box.Sharemapper({"--del"});
  EXPECT_EQ(del.status, kFailureStatus);
  EXPECT_EQ(del.out, Native(golden::DfsListing(testkit::BinaryName(), "[--option value ] ; must [volume]|[drive] ")));
}

TEST(Cli, DriveArgumentErrors) {
  Sandbox box("drive");
  testkit::Run wrong = box.Sharemapper(With(kAllNine, {"--drive=1", "--outformat=json"}));
  EXPECT_EQ(wrong.out, Native(golden::Envelope("drive_wrong")));
  EXPECT_EQ(wrong.status, kFailureStatus);
  testkit::Run empty = box.Sharemapper(With(kAllNine, {"--drive="}));
  EXPECT_EQ(empty.out, Native("drive arg empty\n"));
  EXPECT_EQ(empty.status, kFailureStatus);
}

TEST(Cli, ParseErrorLogsOneLineAndTheNextRunEmptiesTheLog) {
  Sandbox box("parse");
  const testkit::Run run = box.Sharemapper({"--foo"});
  EXPECT_EQ(run.status, kFailureStatus);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, Native("error parsing options: Option " + Quoted("foo") + " does not exist\n"));
  const std::string log = box.AppLog();
  EXPECT_EQ(log.substr(log.size() - std::string(testkit::kEol).size()), testkit::kEol);
  const auto lines = testkit::Lines(log);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[\d+\]\d{4}-\d{1,2}-\d{1,2} \d{1,2}:\d{1,2}:\d{1,2}:\d{1,3} )"
                                                    R"(VkSharemapper::SmOption::ProcOptions:141  ERR:  Option Failed\. )"
                                                    "Option " + Quoted("foo") + " does not exist")))
      << lines[0];

  const testkit::Run json = box.Sharemapper({"--outformat=json", "--bar"});
  EXPECT_EQ(json.out.substr(0, 48), "{\"data\":{},\"errorCode\":20000,\"message\":\"error pa");

  EXPECT_EQ(box.Sharemapper({"--query=false"}).status, 0);
  EXPECT_EQ(box.AppLog(), "");
}

TEST(Cli, NoDrivesQueryInBothFormats) {
  Sandbox box("empty");
  const testkit::Run form = box.Sharemapper({});
  EXPECT_EQ(form.status, 0);
  EXPECT_EQ(form.err, "");
  EXPECT_EQ(form.out, Native(golden::EmptyQuery()));
  const testkit::Run json = box.Sharemapper({"--outformat=json"});
  EXPECT_EQ(json.out, Native(golden::Envelope("query_empty")));
  const testkit::Run off = box.Sharemapper({"--query=false"});
  EXPECT_EQ(off.out, "");
  EXPECT_EQ(off.status, 0);
}

TEST(Cli, UnwritableLogNeverChangesTheResult) {
  Sandbox box("nolog");
  ASSERT_TRUE(testkit::WriteFile(box.cwd + "/Applog", "file\n"));
  const testkit::Run run = box.Sharemapper({"--foo"});
  EXPECT_EQ(run.status, kFailureStatus);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.substr(0, 23), "error parsing options: ");
  EXPECT_EQ(testkit::ReadFile(box.cwd + "/Applog"), "file\n");
}

#ifndef _WIN32
// What another user can plant in a working folder open to them: the log
// stays off, the run gives the result and status of a clean folder, the
// caller's file keeps its bytes, and a FIFO does not hold the run up.
TEST(Cli, PlantedLogNeverChangesTheResultNorTheTarget) {
  Sandbox clean("cleanlog");
  const std::vector<std::string> parseError{"--foo", "--outformat=json"};
  const testkit::Run expected = clean.Sharemapper(parseError);
  ASSERT_FALSE(clean.AppLog().empty());

  const std::vector<std::pair<std::string, std::string>> plants = {
      {"a link to a file of the caller's", "mkdir Applog && ln -s ../precious.txt Applog/VkSharemapper.log"},
      {"a FIFO", "mkdir Applog && mkfifo Applog/VkSharemapper.log"},
      {"a folder of another user", "mkdir Applog && chmod 0777 Applog && chown 65534:65534 Applog"},
  };
  for (const auto& plant : plants) {
    SCOPED_TRACE(plant.first);
    Sandbox box("plantedlog");
    if (plant.first.find("another user") != std::string::npos && ::geteuid() != 0) {
      std::cout << "[ NOTE     ] not root: no folder can be given away" << std::endl;
      continue;
    }
    const std::string precious(2800, 'k');
    ASSERT_EQ(box.Command("/bin/sh", {"-c", "printf '%s' '" + precious + "' > precious.txt && " + plant.second})
                  .status,
              0);
    for (const auto& args : {parseError, std::vector<std::string>{"--outformat=json"}}) {
      // A run that hangs is ended after a while (status 124).
      std::vector<std::string> timed{"10", SHAREMAPPER_BINARY};
      timed.insert(timed.end(), args.begin(), args.end());
      const testkit::Run run = box.Command("/usr/bin/timeout", timed);
      EXPECT_EQ(run.out, args == parseError ? expected.out : clean.Sharemapper(args).out);
      EXPECT_EQ(run.status, args == parseError ? expected.status : 0);
      EXPECT_EQ(run.err, "");
    }
    const std::string kept = testkit::ReadFile(box.cwd + "/precious.txt");
    EXPECT_TRUE(kept == precious) << "the caller's file now holds " << kept.size() << " bytes";
    if (plant.first == "a folder of another user") {
      EXPECT_NE(::access((box.cwd + "/Applog/VkSharemapper.log").c_str(), F_OK), 0);
    }
  }
}
#endif
