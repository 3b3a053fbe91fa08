#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/options.h"
#include "support/applog_capture.h"
#include "support/fakes.h"
#include "support/golden.h"

using VkSharemapper::OptionOutcome;
using VkSharemapper::SmOption;

namespace {

// The parser's quotes around a name in its messages.
std::string Quoted(const std::string& name) {
#ifdef _WIN32
  return "'" + name + "'";
#else
  return "\xE2\x80\x98" + name + "\xE2\x80\x99";
#endif
}

struct Parsed {
  SmOption options;
  OptionOutcome outcome;
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "/opt/sm/sharemapper");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  Parsed parsed;
  parsed.outcome = parsed.options.Process(static_cast<int>(args.size()), argv.data());
  return parsed;
}

std::vector<std::string> AddArgs(const std::string& drive) {
  return {"--add", "--domain=CORP", "--user=bob", "--password=pw", "--host=10.0.0.5", "--location=user\\12345",
          "--drive=" + drive, "--volume=Docs", "--userid=1001", "--dsid=77"};
}

const std::string kProgram = "/opt/sm/sharemapper";
const std::string kHelpListing = golden::HelpListing(kProgram);

std::string DfsListing(const std::string& usage) { return golden::DfsListing(kProgram, usage); }

}  // namespace

TEST(Options, HelpListingWinsOverEverything) {
  for (auto args : {std::vector<std::string>{"--help"}, std::vector<std::string>{"--add", "--help", "--outformat=json"}}) {
    Parsed p = Parse(args);
    EXPECT_FALSE(p.outcome.proceed);
    EXPECT_EQ(p.outcome.status, 0);
    EXPECT_EQ(p.outcome.output, kHelpListing);
  }
}

TEST(Options, AddWithAValueOptionMissingPrintsTheDfsListing) {
  for (const char* dropped : {"--domain=CORP", "--dsid=77", "--drive=e"}) {
    std::vector<std::string> args = AddArgs("e");
    args.erase(std::find(args.begin(), args.end(), dropped));
    args.push_back("--outformat=json");
    Parsed p = Parse(args);
    EXPECT_FALSE(p.outcome.proceed) << dropped;
    EXPECT_EQ(p.outcome.status, 20000);
    EXPECT_EQ(p.outcome.output, DfsListing("[--option value ] ; all list must"));
  }
}

TEST(Options, DeleteWithoutDriveOrVolumePrintsTheDeleteListing) {
  Parsed p = Parse({"--del"});
  EXPECT_FALSE(p.outcome.proceed);
  EXPECT_EQ(p.outcome.status, 20000);
  EXPECT_EQ(p.outcome.output, DfsListing("[--option value ] ; must [volume]|[drive] "));
}

TEST(Options, NoArgumentsMeansFormQuery) {
  Parsed p = Parse({});
  EXPECT_TRUE(p.outcome.proceed);
  EXPECT_TRUE(p.options.query);
  EXPECT_TRUE(p.options.form);
  EXPECT_FALSE(p.options.add);
  EXPECT_FALSE(p.options.del);
}

TEST(Options, OutputFormatSelection) {
  EXPECT_FALSE(Parse({"--query=false"}).options.query);
  EXPECT_TRUE(Parse({"--outformat", "json"}).options.form);  // the next word is left over
  EXPECT_TRUE(Parse({"--outformat"}).options.form);
  EXPECT_TRUE(Parse({"--outformat=form"}).options.form);
  EXPECT_FALSE(Parse({"--outformat=json"}).options.form);
  EXPECT_FALSE(Parse({"--outformat=JSON"}).options.form);
  EXPECT_FALSE(Parse({"--outformat=Form"}).options.form);
  Parsed ignored = Parse({"stray", "--", "--foo"});
  EXPECT_TRUE(ignored.outcome.proceed);
}

TEST(Options, AddCopiesValuesAndNormalisesTheDrive) {
  Parsed p = Parse(AddArgs("e"));
  ASSERT_TRUE(p.outcome.proceed);
  EXPECT_TRUE(p.options.add);
  EXPECT_EQ(p.options.drive, "E:");
  EXPECT_EQ(p.options.domain, "CORP");
  EXPECT_EQ(p.options.user, "bob");
  EXPECT_EQ(p.options.password, "pw");
  EXPECT_EQ(p.options.host, "10.0.0.5");
  EXPECT_EQ(p.options.location, "user\\12345");
  EXPECT_EQ(p.options.volume, "Docs");
  EXPECT_EQ(p.options.userid, "1001");
  EXPECT_EQ(p.options.dsid, "77");

  for (const char* value : {"e:", "E:\\x", "ejk"}) EXPECT_EQ(Parse(AddArgs(value)).options.drive, "E:") << value;
  EXPECT_EQ(Parse(AddArgs("auto")).options.drive, "A:");
}

TEST(Options, AddDriveErrorsAsLineOrEnvelope) {
  Parsed empty = Parse(AddArgs(""));
  EXPECT_EQ(empty.outcome.status, 20000);
  EXPECT_EQ(empty.outcome.output, "drive arg empty\n");

  for (const char* value : {"1", "\\\\srv", "\xC3\xA9"}) {
    Parsed wrong = Parse(AddArgs(value));
    EXPECT_FALSE(wrong.outcome.proceed);
    EXPECT_EQ(wrong.outcome.output, "drive arg wrong\n") << value;
  }

  std::vector<std::string> json = AddArgs("1");
  json.push_back("--outformat=json");
  EXPECT_EQ(Parse(json).outcome.output,
            golden::Envelope("drive_wrong"));
}

TEST(Options, StarPicksTheHighestFreeLetter) {
  fakes::Installed fake;
  fake.system.drives = (1u << 25) | (1u << 24) | (1u << 2);  // Z:, Y:, C:
  EXPECT_EQ(Parse(AddArgs("*")).options.drive, "X:");

  fake.system.drives = 0x3FFFFFFu & ~1u;  // only A: free
  EXPECT_EQ(Parse(AddArgs("*")).options.drive, "A:");

  fake.system.drives = 0x3FFFFFFu;
  Parsed none = Parse(AddArgs("*"));
  EXPECT_EQ(none.outcome.status, 20000);
  EXPECT_EQ(none.outcome.output, "system error,none availabe letter\n");
}

TEST(Options, AddChecksPresenceNotValues) {
  std::vector<std::string> args = AddArgs("e");
  args[4] = "--host=";
  Parsed p = Parse(args);
  EXPECT_TRUE(p.outcome.proceed);
  EXPECT_EQ(p.options.host, "");

  std::vector<std::string> disabled = AddArgs("e");
  disabled[0] = "--add=false";
  disabled.push_back("--del");
  Parsed off = Parse(disabled);
  EXPECT_TRUE(off.outcome.proceed);
  EXPECT_FALSE(off.options.add);
  EXPECT_TRUE(off.options.del);
  EXPECT_EQ(off.options.drive, "E:");  // the add checks ran
}

TEST(Options, LastValueOfARepeatedOptionWins) {
  std::vector<std::string> args = AddArgs("e");
  args.push_back("--drive=f");
  args.push_back("-h");
  args.push_back("10.0.0.9");
  Parsed p = Parse(args);
  EXPECT_EQ(p.options.drive, "F:");
  EXPECT_EQ(p.options.host, "10.0.0.9");
}

TEST(Options, DeleteDriveValues) {
  Parsed letter = Parse({"--del", "--drive=e"});
  EXPECT_EQ(letter.options.drive, "E:");
  EXPECT_TRUE(letter.options.driveGiven);
  EXPECT_EQ(Parse({"--del", "--drive=*"}).options.drive, "*:");
  EXPECT_EQ(Parse({"--del", "--drive=1"}).options.drive, "1:");

  Parsed byVolume = Parse({"--del", "--volume=Docs"});
  EXPECT_EQ(byVolume.options.drive, "A:");
  EXPECT_FALSE(byVolume.options.driveGiven);
  EXPECT_EQ(byVolume.options.volume, "Docs");

  Parsed emptyDrive = Parse({"--del", "--drive="});
  EXPECT_EQ(emptyDrive.options.drive, "A:");
  EXPECT_FALSE(emptyDrive.options.driveGiven);
}

TEST(Options, ParseErrorIsLoggedAndReported) {
  fakes::Installed fake;
  LogCapture log;
  Parsed p = Parse({"--foo"});
  EXPECT_FALSE(p.outcome.proceed);
  EXPECT_EQ(p.outcome.status, 20000);
  EXPECT_EQ(p.outcome.output, "error parsing options: Option " + Quoted("foo") + " does not exist\n");
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0],
            "[5124]2024-3-7 9:5:2:17 VkSharemapper::SmOption::ProcOptions:141  ERR:  Option Failed. "
            "Option " + Quoted("foo") + " does not exist");
}

TEST(Options, ParseErrorAsEnvelopeWhenJsonWasAskedFor) {
  Parsed p = Parse({"--outformat=json", "--add=yes"});
  EXPECT_EQ(p.outcome.status, 20000);
  EXPECT_EQ(p.outcome.output,
            "{\"data\":{},\"errorCode\":20000,\"message\":\"error parsing options: Argument " + Quoted("yes") +
                " failed to parse\",\"success\":false}\n");
  // --outformat=form, a bare --outformat, or one after "--" keep the plain line.
  EXPECT_EQ(Parse({"--outformat=form", "--foo"}).outcome.output.substr(0, 1), "e");
  EXPECT_EQ(Parse({"--foo", "--", "--outformat=json"}).outcome.output.substr(0, 1), "e");
  EXPECT_EQ(Parse({"--domain"}).outcome.output,
            "error parsing options: Option " + Quoted("domain") + " is missing an argument\n");
}

TEST(Options, OverlongOptionWordIsRefusedNotParsed) {
  // The parser's matcher recurses per byte; such a word used to overflow the stack.
  Parsed json = Parse({"--outformat=json", "--host=" + std::string(30000, 'x')});
  EXPECT_FALSE(json.outcome.proceed);
  EXPECT_EQ(json.outcome.status, 20000);
  EXPECT_EQ(json.outcome.output.rfind("{\"data\":{},\"errorCode\":20000,\"message\":\"error parsing options: ", 0), 0u)
      << json.outcome.output.substr(0, 200);

  // A long value given as its own word is never matched, so it still counts.
  Parsed del = Parse({"--del", "--host", std::string(30000, 'x')});
  EXPECT_EQ(del.outcome.output, DfsListing("[--option value ] ; must [volume]|[drive] "));
}

namespace {

std::string ParseError(const std::string& text) { return "error parsing options: " + text + "\n"; }

}  // namespace

// A text option takes the next word; glued letters are never its value.
TEST(Options, TextOptionInsideAGroupIsRefused) {
  struct Case {
    std::vector<std::string> args;
    const char* option;
  } cases[] = {{{"-dq"}, "d"}, {{"-h127.0.0.1"}, "h"}, {{"-qpd", "x"}, "p"}, {{"-d=x"}, "d"}, {{"--del", "-vq"}, "v"}};
  for (const Case& c : cases) {
    fakes::Installed fake;
    LogCapture log;
    Parsed p = Parse(c.args);
    EXPECT_FALSE(p.outcome.proceed) << c.args[0];
    EXPECT_EQ(p.outcome.status, 20000);
    EXPECT_EQ(p.outcome.output, ParseError("Option " + Quoted(c.option) + " requires an argument"));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], "[5124]2024-3-7 9:5:2:17 VkSharemapper::SmOption::ProcOptions:141  ERR:  Option Failed. "
                              "Option " + Quoted(c.option) + " requires an argument");
  }
  EXPECT_EQ(Parse({"--outformat=json", "-dq"}).outcome.output,
            "{\"data\":{},\"errorCode\":20000,\"message\":\"error parsing options: Option " + Quoted("d") +
                " requires an argument\",\"success\":false}\n");
  // A fault in an earlier word is reported first; a text option as the last
  // letter takes the next word.
  EXPECT_EQ(Parse({"--foo", "-dq"}).outcome.output, ParseError("Option " + Quoted("foo") + " does not exist"));
  Parsed last = Parse({"--del", "-qv", "Docs"});
  EXPECT_TRUE(last.outcome.proceed);
  EXPECT_EQ(last.options.volume, "Docs");
}

// Words the parser has always read in a particular way keep that reading.
TEST(Options, WordsKeepTheirReading) {
  Parsed shortTrue = Parse({"--query=t"});
  EXPECT_TRUE(shortTrue.outcome.proceed);
  EXPECT_TRUE(shortTrue.options.query);
  EXPECT_FALSE(Parse({"--query=F"}).options.query);
  EXPECT_EQ(Parse({"--add=yes"}).outcome.output, ParseError("Argument " + Quoted("yes") + " failed to parse"));
  EXPECT_EQ(Parse({"--foo.bar=1"}).outcome.output, ParseError("Option " + Quoted("foo.bar") + " does not exist"));
  EXPECT_EQ(Parse({"-q."}).outcome.output, ParseError("Option " + Quoted(".") + " does not exist"));
  EXPECT_EQ(Parse({"--host=a\nb"}).outcome.output,
            ParseError("Argument " + Quoted("--host=a\nb") + " starts with a - but has incorrect syntax"));
  EXPECT_EQ(Parse({"--x"}).outcome.output,
            ParseError("Argument " + Quoted("--x") + " starts with a - but has incorrect syntax"));
  // A value option takes any next word, even "--" or one with a dash.
  Parsed value = Parse({"--del", "--volume", "-dq"});
  EXPECT_TRUE(value.outcome.proceed);
  EXPECT_EQ(value.options.volume, "-dq");
}

// Other local users can read a process's arguments while it runs: the
// password is gone from them once the options are read, however it was given.
TEST(Options, PasswordLeavesTheArgumentStrings) {
  for (std::vector<std::string> spelling : std::vector<std::vector<std::string>>{
           {"--password=s3cret"}, {"--password", "s3cret"}, {"-p", "s3cret"}, {"-qp", "s3cret"}, {"-ps3cret"}}) {
    fakes::Installed fake;
    std::vector<std::string> args = AddArgs("e");
    args.erase(args.begin() + 3);  // the add's own --password=pw
    args.insert(args.end(), spelling.begin(), spelling.end());
    args.insert(args.begin(), "sharemapper");
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    SmOption options;
    const OptionOutcome outcome = options.Process(static_cast<int>(args.size()), argv.data());
    for (const std::string& word : args) EXPECT_EQ(word.find("s3cret"), std::string::npos) << word;
    ASSERT_EQ(fake.system.secrets.size(), 1u) << spelling[0];
    EXPECT_EQ(fake.system.secrets[0], "s3cret");
    if (spelling[0] != "-ps3cret") {
      EXPECT_EQ(options.password, "s3cret");
    }
    EXPECT_EQ(outcome.proceed, spelling[0] != "-ps3cret");
  }
}
