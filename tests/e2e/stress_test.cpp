// Many runs of the real program at once against the loopback Samba server,
// the way calling programs use it: a logon agent adding a user's shares in
// parallel, another listing and deleting drives meanwhile. Every outcome is
// checked against the drives and records left behind.
//
// The counts are small by default (CI); larger ones come from the
// environment (scripts/bench.sh):
//   SM_STRESS_ROUNDS  rounds of 8 racing "*" adds (10)
//   SM_STRESS_MIXED   add/query/delete cycles of each of 6 workers (8)
//   SM_STRESS_RACES   runs of a delete by volume racing a re-add (50)
// Each test prints a "[stress]" line with its counts.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/drives.h"
#include "platform/posix/registry.h"
#include "samba/samba_server.h"
#include "support/runner.h"
#include "support/stress.h"
#include "utils/vkreg.h"

using testkit::AddSpec;
using testkit::DriveRow;
using testkit::Envelope;
using testkit::RowState;
using testkit::Tally;

namespace {

const std::string kRecordParent = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2\\";
const std::string kAddSuccess = Envelope(true, 0, "add success") + "\n";
const std::string kDeleteSuccess = Envelope(true, 0, "delete success") + "\n";

class Stress : public ::testing::Test {
 protected:
  void SetUp() override {
    box_ = std::make_unique<testkit::Sandbox>(::testing::UnitTest::GetInstance()->current_test_info()->name());
    box_->Use();
    platform::posix::UserDrives().CloseTableForTests();
    platform::posix::ResetKeyStore();
  }
  void TearDown() override {
    platform::posix::UserDrives().CloseTableForTests();
    platform::posix::ResetKeyStore();
    box_.reset();
    std::error_code ignored;
    if (!folders_.empty()) std::filesystem::remove_all(folders_, ignored);
  }

  // An add of its own folder below pub\stress (made here, so that the server
  // finds it): label, ids and record name all tell it apart.
  AddSpec Add(const smtest::SambaServer& server, const std::string& name, const std::string& drive) {
    if (folders_.empty()) {
      folders_ = server.SharePath("pub") + "/stress";
      std::filesystem::create_directories(folders_);
      server.GiveToTestAccount(folders_);
    }
    std::filesystem::create_directory(folders_ + "/" + name);
    server.GiveToTestAccount(folders_ + "/" + name);
    AddSpec base;
    base.host = server.Host();
    base.user = server.User();
    base.password = server.Password();
    return testkit::NamedAdd(base, name, "pub\\stress\\" + name, drive);
  }

  // The label of an add's record, "<none>" when it has none. Read in this
  // process, only while no run is under way.
  static std::string RecordLabel(const AddSpec& add) {
    std::string name = "_LabelFromReg";
    std::string value = "<none>";
    std::string key = kRecordParent + add.RecordName();
    DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value);
    platform::posix::ResetKeyStore();
    return value;
  }

  std::vector<DriveRow> Query() const {
    std::vector<DriveRow> rows;
    const testkit::Run run = box_->Sharemapper({"--outformat=json"});
    EXPECT_TRUE(testkit::ParseQueryRows(run.out, rows)) << testkit::Describe(run);
    return rows;
  }

  // After the runs: every add's drive and record are there together, with
  // its values, or both are gone. Counts what is not.
  void CheckLeftovers(const std::vector<AddSpec>& adds, Tally& tally) {
    std::map<std::string, const DriveRow*> byLocation;
    const std::vector<DriveRow> rows = Query();
    for (const DriveRow& row : rows) byLocation[row.location] = &row;
    for (const AddSpec& add : adds) {
      const auto row = byLocation.find(add.RowLocation());
      const bool recorded = RecordLabel(add) != "<none>";
      if (row == byLocation.end() && recorded) tally.Note("record without drive", add.location);
      if (row != byLocation.end() && !recorded) tally.Note("drive without record", add.location);
      if (row != byLocation.end()) byLocation.erase(row);
    }
    for (const auto& left : byLocation) tally.Note("drive of no add", left.second->drive + left.first);
  }

  // A refused add, with the refusal its log gives (the letter taken
  // meanwhile is 85).
  static void NoteRefusal(Tally& tally, const AddSpec& add, const testkit::Run& run, const std::string& dir) {
    const std::string line = testkit::LastLogLine(dir);
    const std::size_t from = line.find("VkSharemapper::");
    const std::string taken = "mapping net disk failed, errno: 85";
    if (line.size() >= taken.size() && line.compare(line.size() - taken.size(), taken.size(), taken) == 0) {
      tally.Count("refused with 85");
    }
    tally.Note("refused", add.drive + " " + add.location + ": " + testkit::Describe(run) +
                              " log: " + (from == std::string::npos ? line : line.substr(from)));
  }

  // Deletes every drive still there (by letter), so the next round starts
  // with all letters free.
  void DeleteAll() {
    for (const DriveRow& row : Query()) box_->Sharemapper({"--del", "--drive=" + row.drive.substr(0, 1)});
  }

  std::unique_ptr<testkit::Sandbox> box_;
  std::string folders_;
};

// Eight adds with --drive=* at once, of eight remote names: each gets a
// letter of its own, and each letter holds the drive and record of the add
// that reported it.
TEST_F(Stress, RacingStarAddsEachGetALetterOfTheirOwn) {
  SM_REQUIRE_SAMBA(server);
  const int rounds = testkit::CountFromEnv("SM_STRESS_ROUNDS", 10);
  constexpr int kAdders = 8;
  const std::vector<std::string> dirs = testkit::RunDirs(*box_, kAdders);
  Tally tally;
  for (int round = 0; round < rounds; ++round) {
    std::vector<AddSpec> adds;
    std::vector<std::vector<std::string>> args;
    for (int i = 0; i < kAdders; ++i) {
      adds.push_back(Add(server, "a" + std::to_string(round) + "_" + std::to_string(i), "*"));
      args.push_back(adds.back().Args());
    }
    const std::vector<testkit::Run> runs = testkit::RunAtOnce(*box_, args, dirs);

    std::map<std::string, DriveRow> byLocation;
    std::set<std::string> letters;
    for (const DriveRow& row : Query()) {
      byLocation[row.location] = row;
      letters.insert(row.drive);
    }
    for (int i = 0; i < kAdders; ++i) {
      tally.Count("adds");
      if (runs[i].out != kAddSuccess || runs[i].status != 0) {
        NoteRefusal(tally, adds[i], runs[i], dirs[i]);
        continue;
      }
      tally.Count("succeeded");
      const auto row = byLocation.find(adds[i].RowLocation());
      if (row == byLocation.end()) {
        tally.Note("reported but no drive", adds[i].location);
      } else if (testkit::Classify(row->second, adds[i]) != RowState::kWhole) {
        tally.Note("reported but not its values", row->second.drive + " " + row->second.userid);
      }
    }
    tally.Count("letters", static_cast<int>(letters.size()));
    CheckLeftovers(adds, tally);
    DeleteAll();
  }
  tally.Print("racing '*' adds, " + std::to_string(kAdders) + " at once x " + std::to_string(rounds) + " rounds");
  EXPECT_EQ(tally.Of("succeeded"), kAdders * rounds);
  EXPECT_EQ(tally.Of("letters"), kAdders * rounds);
  EXPECT_TRUE(tally.Examples().empty()) << tally.Examples();
  EXPECT_EQ(platform::posix::UserDrives().LetterMask(), 0u);
}

// Six workers at once, each in cycles: an add with "*", an add on a letter
// of its own, a query, and a delete by volume of each drive. No add may be
// refused (at most 12 drives exist at a time, so letters always remain and
// "*" never reaches the workers' own letters A-F), no delete may fail, and
// every query row holds all values of the add whose remote name it shows, or
// none (the drive's volume name and "dummy").
TEST_F(Stress, MixedAddsQueriesAndDeletesKeepDrivesAndRecordsTogether) {
  SM_REQUIRE_SAMBA(server);
  const int cycles = testkit::CountFromEnv("SM_STRESS_MIXED", 8);
  constexpr int kWorkers = 6;
  // Made before the workers start: they only read it.
  std::map<std::string, AddSpec> byLocation;
  std::vector<std::vector<std::pair<AddSpec, AddSpec>>> plans(kWorkers);
  std::vector<AddSpec> all;
  for (int w = 0; w < kWorkers; ++w) {
    for (int c = 0; c < cycles; ++c) {
      const std::string name = "m" + std::to_string(w) + "_" + std::to_string(c);
      const AddSpec star = Add(server, name + "s", "*");
      const AddSpec own = Add(server, name + "l", std::string(1, static_cast<char>('A' + w)));
      plans[w].emplace_back(star, own);
      for (const AddSpec& add : {star, own}) {
        byLocation[add.RowLocation()] = add;
        all.push_back(add);
      }
    }
  }

  const std::vector<std::string> dirs = testkit::RunDirs(*box_, kWorkers);
  Tally tally;
  std::vector<std::function<void()>> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int c = 0; c < cycles; ++c) {
        std::vector<const AddSpec*> added;
        for (const AddSpec* add : {&plans[w][c].first, &plans[w][c].second}) {
          const testkit::Run run = box_->SharemapperIn(dirs[w], add->Args());
          tally.Count("adds");
          if (run.out == kAddSuccess && run.status == 0) {
            added.push_back(add);
          } else {
            NoteRefusal(tally, *add, run, dirs[w]);
          }
        }

        const testkit::Run query = box_->Sharemapper({"--outformat=json"});
        std::vector<DriveRow> rows;
        tally.Count("queries");
        if (!testkit::ParseQueryRows(query.out, rows)) tally.Note("query failed", testkit::Describe(query));
        std::set<std::string> letters;
        for (const DriveRow& row : rows) {
          tally.Count("rows");
          if (!letters.insert(row.drive).second) tally.Note("two rows on one letter", row.drive);
          const auto owner = byLocation.find(row.location);
          if (owner == byLocation.end()) {
            tally.Note("row of no add", row.drive + row.location);
            continue;
          }
          const RowState state = testkit::Classify(row, owner->second);
          if (state == RowState::kFallback) tally.Count("rows without record");
          if (state == RowState::kMixed) {
            tally.Note("row mixing record and fallback",
                       row.drive + row.location + " " + row.volume + "/" + row.userid + "/" + row.dsid);
          }
        }
        // This worker's adds stand until it deletes them.
        for (const AddSpec* add : added) {
          bool whole = false;
          for (const DriveRow& row : rows) {
            whole = whole || (row.location == add->RowLocation() && testkit::Classify(row, *add) == RowState::kWhole);
          }
          if (!whole) tally.Note("reported add without its drive and record", add->location);
        }

        for (const AddSpec* add : added) {
          const testkit::Run del = box_->Sharemapper({"--del", "--volume=" + add->volume, "--outformat=json"});
          tally.Count("deletes");
          if (del.out != kDeleteSuccess || del.status != 0) {
            tally.Note("delete failed", add->volume + ": " + testkit::Describe(del));
          }
        }
      }
    });
  }
  testkit::AtOnce(workers);
  CheckLeftovers(all, tally);
  tally.Print("mixed load, " + std::to_string(kWorkers) + " workers x " + std::to_string(cycles) + " cycles");
  EXPECT_TRUE(tally.Examples().empty()) << tally.Examples();
  EXPECT_EQ(platform::posix::UserDrives().LetterMask(), 0u);
  DeleteAll();
}

// A drive deleted by volume by four runs at once while three more add other
// remote names on the same letter as soon as it is free, and one more lists
// the drives all the while (their reads hold the writers up, as a calling
// agent's would): whichever delete comes late must not take the new drive,
// whose add was reported.
TEST_F(Stress, DeleteByVolumeRacingAReAddOfItsLetterLeavesTheNewDrive) {
  SM_REQUIRE_SAMBA(server);
  const int races = testkit::CountFromEnv("SM_STRESS_RACES", 50);
  constexpr int kDeleters = 4;
  constexpr int kReAdders = 3;
  constexpr int kListers = 1;
  // Tries of one re-add while the letter is still taken.
  constexpr int kMaxTries = 200;
  Tally tally;
  for (int race = 0; race < races; ++race) {
    const AddSpec old = Add(server, "c" + std::to_string(race) + "o", "K");
    std::vector<AddSpec> renewed;
    for (int r = 0; r < kReAdders; ++r) renewed.push_back(Add(server, "c" + std::to_string(race) + "n" + std::to_string(r), "K"));
    const testkit::Run first = box_->Sharemapper(old.Args());
    ASSERT_EQ(first.out, kAddSuccess) << testkit::Describe(first);

    std::vector<testkit::Run> deletes(kDeleters);
    std::vector<testkit::Run> readds(kReAdders);
    std::vector<int> tries(kReAdders, 0);
    std::atomic<int> deletersLeft{kDeleters};
    std::atomic<int> readdersLeft{kReAdders};
    std::atomic<bool> won{false};
    std::vector<std::function<void()>> tasks;
    for (int d = 0; d < kDeleters; ++d) {
      tasks.emplace_back([&, d] {
        deletes[d] = box_->Sharemapper({"--del", "--volume=" + old.volume, "--outformat=json"});
        --deletersLeft;
      });
    }
    for (int r = 0; r < kReAdders; ++r) {
      tasks.emplace_back([&, r] {
        // Until one of them has the letter; once every delete has ended, one
        // more try decides.
        while (!won && tries[r] < kMaxTries) {
          const bool last = deletersLeft == 0;
          readds[r] = box_->Sharemapper(renewed[r].Args());
          ++tries[r];
          if (readds[r].out == kAddSuccess) won = true;
          if (last) break;
        }
        --readdersLeft;
      });
    }
    for (int l = 0; l < kListers; ++l) {
      tasks.emplace_back([&] {
        while (readdersLeft > 0 || deletersLeft > 0) box_->Sharemapper({"--outformat=json"});
      });
    }
    testkit::AtOnce(tasks);

    tally.Count("races");
    int removed = 0;
    for (const testkit::Run& del : deletes) removed += del.out == kDeleteSuccess ? 1 : 0;
    tally.Count("deletes reported", removed);
    if (removed != 1) tally.Note("deletes reported for one drive", std::to_string(removed));
    const std::vector<DriveRow> rows = Query();
    int reported = 0;
    for (int r = 0; r < kReAdders; ++r) {
      tally.Count("re-add tries", tries[r]);
      if (readds[r].out != kAddSuccess) continue;
      ++reported;
      bool whole = false;
      for (const DriveRow& row : rows) {
        whole = whole || (row.drive == "K:" && row.location == renewed[r].RowLocation() &&
                          testkit::Classify(row, renewed[r]) == RowState::kWhole);
      }
      if (!whole) tally.Note("reported re-add lost its drive", renewed[r].location);
      if (RecordLabel(renewed[r]) != renewed[r].volume) {
        tally.Note("reported re-add lost its record", renewed[r].location);
      }
    }
    tally.Count("re-adds reported", reported);
    if (reported == 0) tally.Note("no re-add on the freed letter", testkit::Describe(readds[0]));
    if (RecordLabel(old) != "<none>") tally.Note("deleted drive kept its record", old.location);
    DeleteAll();
  }
  tally.Print("delete by volume racing a re-add, " + std::to_string(races) + " races");
  EXPECT_TRUE(tally.Examples().empty()) << tally.Examples();
  EXPECT_EQ(platform::posix::UserDrives().LetterMask(), 0u);
}

}  // namespace
