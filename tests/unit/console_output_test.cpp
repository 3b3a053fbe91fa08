// Standard output through the console concern: each flushed piece goes out
// whole, and each output form names the encoding its bytes are in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_output.h"
#include "support/fakes.h"

using platform::Encoding;
using VkSharemapper::ConsoleOutput;

namespace {

using Pieces = std::vector<std::string>;

Pieces Texts(const fakes::FakeConsole& console) {
  Pieces texts;
  for (const auto& piece : console.pieces) texts.push_back(piece.text);
  return texts;
}

int RunProgram(std::vector<std::string> args) {
  args.insert(args.begin(), "sharemapper");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  return VkSharemapper::Run(static_cast<int>(args.size()), argv.data());
}

const std::string kParent = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2\\";

}  // namespace

TEST(ConsoleOutput, EachFlushHandsOnOnePieceAndTheEndTheRest) {
  fakes::Installed fake;
  {
    ConsoleOutput out(Encoding::kUtf8);
    out << "ab" << 'c' << std::endl;
    out << "de";
    EXPECT_EQ(fake.console.pieces.size(), 1u);
    out << std::flush << std::flush << "f";
  }
  EXPECT_EQ(Texts(fake.console), (Pieces{"abc\n", "de", "f"}));
  for (const auto& piece : fake.console.pieces) EXPECT_EQ(piece.encoding, Encoding::kUtf8);
}

// As with the standard stream, a failed write leaves the stream bad and
// nothing after it is written.
TEST(ConsoleOutput, FailedWriteStopsTheStream) {
  fakes::Installed fake;
  fake.console.result = platform::err::kNoData;
  ConsoleOutput out(Encoding::kAnsi);
  out << "first" << std::endl;
  EXPECT_TRUE(out.bad());
  fake.console.result = platform::err::kSuccess;
  out << "second" << std::endl;
  EXPECT_EQ(Texts(fake.console), (Pieces{"first\n"}));
}

// The form output keeps the program's texts as they are (the ANSI code page
// on Windows); the JSON output is UTF-8. One line of the table per write.
TEST(ConsoleOutput, EncodingFollowsTheOutputForm) {
  struct Case {
    std::vector<std::string> args;
    Encoding encoding;
    Pieces pieces;
  };
  const std::string header = "DRIVE\tHOST\t\t\tUSERID\t\t\tDISKSESSIONID\t\t\tLOCATION\t\t\t\t\tVOLUMENAME\n";
  const std::vector<std::string> add = {"--add",        "--domain=",      "--user=bob", "--password=pw", "--host=srv",
                                        "--location=pub", "--drive=f",    "--volume=V", "--userid=1",    "--dsid=2"};
  std::vector<std::string> addJson = add;
  addJson.push_back("--outformat=json");
  const Case cases[] = {
      {add, Encoding::kAnsi, {"add success\n"}},
      {addJson, Encoding::kUtf8, {"{\"data\":{},\"errorCode\":0,\"message\":\"add success\",\"success\":true}\n"}},
      {{}, Encoding::kAnsi, {header, "E:\tsrv\t\t\t1\t\t\t2\t\t\t\t\\pub\t\t\t\t\t\tCaf\x82\n", ".\n"}},
      {{"--outformat=json"},
       Encoding::kUtf8,
       {"{\"data\":[{\"drive\":\"E:\",\"dsid\":\"2\",\"host\":\"srv\",\"location\":\"\\\\pub\",\"userid\":\"1\","
        "\"volumename\":\"Caf\xC3\xA9\"}],\"errorCode\":0,\"message\":\"query success\",\"success\":true}\n"}},
      {{"--del", "--drive=q"}, Encoding::kAnsi, {"delete failed ,not found drive\n"}},
      {{"--del", "--drive=q", "--outformat=json"},
       Encoding::kUtf8,
       {"{\"data\":{},\"errorCode\":20000,\"message\":\"delete failed ,not found drive\",\"success\":false}\n"}},
  };
  for (const Case& c : cases) {
    fakes::Installed fake;
    fake.network.connections["E:"] = "\\\\srv\\pub";
    fake.registry.keys[kParent + "##srv#pub"] = {
        {"_LabelFromReg", "Caf\x82"}, {"_VkUserId", "1"}, {"_VkDiskSessionId", "2"}};
    RunProgram(c.args);
    const std::string named = c.args.empty() ? "(query)" : c.args.back();
    EXPECT_EQ(Texts(fake.console), c.pieces) << named;
    for (const auto& piece : fake.console.pieces) EXPECT_EQ(piece.encoding, c.encoding) << named;
  }
}
