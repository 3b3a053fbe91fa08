// Eight adds with --drive=* at once through Wine's own MPR and the test
// network provider, of the shares \\127.0.0.1\stress0 to stress7: each must
// get a letter of its own, with its record. SM_STRESS_ROUNDS sets the number
// of rounds (10, about 7 s each under Wine).
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/runner.h"
#include "support/stress.h"

namespace {

const std::string kRecordParent = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2\\";

// The label of an add's record under HKCU, "<none>" when it has none.
std::string RecordLabel(const testkit::AddSpec& add) {
  char value[512] = {};
  DWORD size = sizeof value;
  const std::string key = kRecordParent + add.RecordName();
  if (::RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "_LabelFromReg", RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return "<none>";
  }
  return value;
}

TEST(WineStress, RacingStarAddsEachGetALetterOfTheirOwn) {
  testkit::Sandbox box("stress");
  const int rounds = testkit::CountFromEnv("SM_STRESS_ROUNDS", 10);
  constexpr int kAdders = 8;
  testkit::AddSpec base;
  base.host = "127.0.0.1";
  base.user = "smtest";
  base.password = "Sm-Test-Pass1";
  const std::vector<std::string> dirs = testkit::RunDirs(box, kAdders);
  testkit::Tally tally;
  for (int round = 0; round < rounds; ++round) {
    std::vector<testkit::AddSpec> adds;
    std::vector<std::vector<std::string>> args;
    for (int i = 0; i < kAdders; ++i) {
      const std::string share = "stress" + std::to_string(i);
      adds.push_back(testkit::NamedAdd(base, "r" + std::to_string(round) + share, share, "*"));
      args.push_back(adds.back().Args());
    }
    const std::vector<testkit::Run> runs = testkit::RunAtOnce(box, args, dirs);

    std::vector<testkit::DriveRow> rows;
    const testkit::Run query = box.Sharemapper({"--outformat=json"});
    ASSERT_TRUE(testkit::ParseQueryRows(query.out, rows)) << testkit::Describe(query);
    std::map<std::string, testkit::DriveRow> byLocation;
    std::set<std::string> letters;
    for (const testkit::DriveRow& row : rows) {
      byLocation[row.location] = row;
      letters.insert(row.drive);
    }
    for (int i = 0; i < kAdders; ++i) {
      tally.Count("adds");
      if (runs[i].out != testkit::Envelope(true, 0, "add success") + "\r\n" || runs[i].status != 0) {
        const std::string line = testkit::LastLogLine(dirs[i]);
        const std::string taken = "errno: 85";
        if (line.size() >= taken.size() && line.compare(line.size() - taken.size(), taken.size(), taken) == 0) {
          tally.Count("refused with 85");
        }
        tally.Note("refused", testkit::Describe(runs[i]) + " log: " + line);
        if (RecordLabel(adds[i]) != "<none>") tally.Note("refused add left its record", adds[i].location);
        continue;
      }
      tally.Count("succeeded");
      const auto row = byLocation.find(adds[i].RowLocation());
      if (row == byLocation.end()) {
        tally.Note("reported but no drive", adds[i].location);
      } else if (testkit::Classify(row->second, adds[i]) != testkit::RowState::kWhole) {
        tally.Note("reported but not its values", row->second.drive + " " + row->second.userid);
      }
      if (RecordLabel(adds[i]) != adds[i].volume) tally.Note("reported but no record", adds[i].location);
    }
    tally.Count("letters", static_cast<int>(letters.size()));
    for (const testkit::DriveRow& row : rows) box.Sharemapper({"--del", "--drive=" + row.drive.substr(0, 1)});
  }
  tally.Print("racing '*' adds under Wine, " + std::to_string(kAdders) + " at once x " + std::to_string(rounds) +
              " rounds");
  EXPECT_EQ(tally.Of("succeeded"), kAdders * rounds);
  EXPECT_EQ(tally.Of("letters"), kAdders * rounds);
  EXPECT_TRUE(tally.Examples().empty()) << tally.Examples();
  const testkit::Run after = box.Sharemapper({"--outformat=json"});
  std::vector<testkit::DriveRow> left;
  EXPECT_TRUE(testkit::ParseQueryRows(after.out, left));
  EXPECT_TRUE(left.empty()) << after.out;
}

}  // namespace
