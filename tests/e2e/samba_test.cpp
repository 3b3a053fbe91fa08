// The whole life cycle of drives, running the real binary against the
// loopback Samba server.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "disk/mapping_record.h"
#include "platform/platform.h"
#include "platform/posix/drives.h"
#include "samba/samba_sandbox.h"
#include "support/golden.h"
#include "support/runner.h"
#include "utils/vkreg.h"

using platform::net::kConnectTemporary;
using testkit::kFailureStatus;
using VkSharemapper::kValueDiskSessionId;
using VkSharemapper::kValueLabel;
using VkSharemapper::kValueUserId;
using testkit::Sandbox;

namespace {


// The loopback server and a sandbox whose store and table this test process
// also uses directly.
class LifeCycle : public smtest::SambaSandbox {
 protected:
  std::vector<std::string> AddArgs(const std::string& drive, const std::string& location = "pub\\docs") const {
    return {"--add",           "--domain=",           "--user=" + server().User(), "--password=" + server().Password(),
            "--host=127.0.0.1", "--location=" + location, "--drive=" + drive,        "--volume=Docs",
            "--userid=1001",   "--dsid=77"};
  }

  static std::vector<std::string> LogTails(const Sandbox& box) {
    std::vector<std::string> tails;
    for (const std::string& line : testkit::Lines(box.AppLog())) tails.push_back(line.substr(line.find("VkSharemapper::")));
    return tails;
  }
};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// Everything below `root` that a removal or an attribute change would show
// in: each entry's kind, mode, size, contents or link target, and the DOS
// attributes Samba keeps in an extended attribute (except for the paths in
// `noDos`). Links are not followed; `skip` (a path below root) is left out
// with what is below it.
std::map<std::string, std::string> Snapshot(const std::string& root, const std::string& skip = "",
                                            const std::set<std::string>& noDos = {}) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string path = it->path().string();
    if (!skip.empty() && path == skip) {
      it.disable_recursion_pending();
      continue;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_size);
    if (S_ISREG(st.st_mode)) what += " " + testkit::ReadFile(path);
    if (S_ISLNK(st.st_mode)) what += " -> " + fs::read_symlink(it->path(), error).string();
    char dos[256];
    const ssize_t size = ::lgetxattr(path.c_str(), "user.DOSATTRIB", dos, sizeof dos);
    const std::string name = path.substr(root.size());
    if (size > 0 && noDos.count(name) == 0) what += " dos " + std::string(dos, static_cast<std::size_t>(size));
    entries[name] = what;
  }
  return entries;
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

}  // namespace

TEST_F(LifeCycle, QueryListsConnectionsAndRecordsInBothFormats) {
  // Two drives connected straight through the platform layer; one record
  // written through the registry helpers, the other drive without one.
  platform::NetResource resource;
  resource.scope = platform::net::kScopeGlobalNet;
  resource.type = platform::net::kTypeDisk;
  resource.localName = "G:";
  resource.remoteName = "\\\\127.0.0.1\\pub\\docs";
  ASSERT_EQ(platform::network().AddConnection(resource, server().Password(), server().User(), kConnectTemporary), 0u);
  resource.localName = "C:";
  resource.remoteName = "\\\\127.0.0.1\\team";
  ASSERT_EQ(platform::network().AddConnection(resource, server().Password(), server().User(), kConnectTemporary), 0u);

  std::string key = std::string(VkSharemapper::kMountPoints2) + "##127.0.0.1#pub#docs";
  for (auto value : {std::make_pair(kValueLabel, "Docs"),
                     std::make_pair(kValueUserId, "user-id-of-24-bytes-0001"),
                     std::make_pair(kValueDiskSessionId, "77")}) {
    std::string name = value.first;
    std::string text = value.second;
    ASSERT_EQ(DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, key, name, text), 1);
  }

  const testkit::Run form = box_->Sharemapper({});
  EXPECT_EQ(form.status, 0);
  EXPECT_EQ(form.err, "");
  EXPECT_EQ(form.out, golden::QueryHeader() +
                          "C:\t127.0.0.1\t\tdummy\t\t\tdummy\t\t\t\t\\team\t\t\t\t\t\tteam\n"
                          "G:\t127.0.0.1\t\tuser-id-of-24-bytes-0001" "77\t\t\t\t\\pub\\docs\t\t\t\t\tDocs\n"
                          ".\n");

  const testkit::Run json = box_->Sharemapper({"--outformat=json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.out,
            "{\"data\":[{\"drive\":\"C:\",\"dsid\":\"dummy\",\"host\":\"127.0.0.1\",\"location\":\"\\\\team\","
            "\"userid\":\"dummy\",\"volumename\":\"team\"},{\"drive\":\"G:\",\"dsid\":\"77\",\"host\":\"127.0.0.1\","
            "\"location\":\"\\\\pub\\\\docs\",\"userid\":\"user-id-of-24-bytes-0001\",\"volumename\":\"Docs\"}],"
            "\"errorCode\":0,\"message\":\"query success\",\"success\":true}\n");
}

TEST_F(LifeCycle, AddEmptiesTheRecycleBinAndLogsEachStep) {
  const std::string bin = server().SharePath("pub") + "/docs/$RECYCLE.BIN";
  ASSERT_EQ(std::system(("rm -rf '" + bin + "' && mkdir -p '" + bin + "/S-1-5-21/$Rdir' '" + bin + "/kept' && "
                         "echo x > '" + bin + "/S-1-5-21/$Rdir/a.txt' && echo y > '" + bin + "/locked.txt' && "
                         "echo z > '" + bin + "/kept/.keep' && echo w > '" + bin + "/kept/gone.txt'").c_str()),
            0);
  ASSERT_TRUE(server().GiveToTestAccount(bin));
  ASSERT_EQ(server().SmbClient("pub", "cd docs\\$RECYCLE.BIN; setmode locked.txt +r; setmode S-1-5-21 +hs"), 0);

  const testkit::Run run = box_->Sharemapper(With(AddArgs("e"), {"--outformat=json"}));
  EXPECT_EQ(run.out, golden::Envelope("add_success"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");

  struct stat st {};
  EXPECT_NE(::lstat((bin + "/locked.txt").c_str(), &st), 0);
  EXPECT_NE(::lstat((bin + "/S-1-5-21").c_str(), &st), 0);
  EXPECT_NE(::lstat((bin + "/kept/gone.txt").c_str(), &st), 0);
  EXPECT_EQ(::lstat((bin + "/kept/.keep").c_str(), &st), 0);

  const auto lines = testkit::Lines(box_->AppLog());
  ASSERT_EQ(lines.size(), 3u) << box_->AppLog();
  const std::string head = R"(\[\d+\]\d{4}-\d{1,2}-\d{1,2} \d{1,2}:\d{1,2}:\d{1,2}:\d{1,3} VkSharemapper::SambaDisk::Mount:)";
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(head + "143  INFO:  mapping net disk sucessed"))) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(head + "169  INFO:  Samba disk mount: 1"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(head + "173  INFO:  try delete RECYCLE\\.BIN"))) << lines[2];

  const testkit::Run json = box_->Sharemapper({"--outformat=json"});
  EXPECT_EQ(json.out,
            "{\"data\":[{\"drive\":\"E:\",\"dsid\":\"77\",\"host\":\"127.0.0.1\",\"location\":\"\\\\pub\\\\docs\","
            "\"userid\":\"1001\",\"volumename\":\"Docs\"}],\"errorCode\":0,\"message\":\"query success\","
            "\"success\":true}\n");

  // The same in form output, on a letter picked with "*".
  const testkit::Run star = box_->Sharemapper(AddArgs("*", "team"));
  EXPECT_EQ(star.out, golden::FormLine("add_success"));
  const testkit::Run listed = box_->Sharemapper({});
  EXPECT_NE(listed.out.find("\nZ:\t127.0.0.1\t\t1001\t\t\t77\t\t\t\t\\team\t\t\t\t\t\tDocs\n"), std::string::npos)
      << listed.out;
  std::system(("rm -rf '" + bin + "'").c_str());
}

TEST_F(LifeCycle, AddFailuresAndTheirCodes) {
  std::vector<std::string> wrong = AddArgs("e");
  wrong[3] = "--password=not-the-password";
  testkit::Run bad = box_->Sharemapper(With(wrong, {"--outformat=json"}));
  EXPECT_EQ(bad.out, golden::Envelope("add_failed"));
  EXPECT_EQ(bad.status, kFailureStatus);
  EXPECT_EQ(LogTails(*box_), std::vector<std::string>{"VkSharemapper::SambaDisk::Mount:148  ERR:  mapping net disk "
                                                       "failed, errno: 1326"});
  EXPECT_EQ(box_->Sharemapper(wrong).out, golden::FormLine("add_failed"));

  ASSERT_EQ(box_->Sharemapper(AddArgs("e")).out, golden::FormLine("add_success"));

  // Same server, another account: the credential conflict.
  std::vector<std::string> other = AddArgs("f");
  other[2] = "--user=someone-else";
  testkit::Run conflict = box_->Sharemapper(With(other, {"--outformat=json"}));
  EXPECT_EQ(conflict.out,
            golden::Envelope("add_conflict"));
  EXPECT_EQ(conflict.status, kFailureStatus);

  // Letter in use.
  testkit::Run taken = box_->Sharemapper(With(AddArgs("e", "team"), {"--outformat=json"}));
  EXPECT_EQ(taken.out, golden::Envelope("add_failed"));
  EXPECT_EQ(LogTails(*box_).back(), "VkSharemapper::SambaDisk::Mount:148  ERR:  mapping net disk failed, errno: 85");

  // An empty host never reaches the network, and the log keeps the password out.
  std::vector<std::string> noHost = AddArgs("h");
  noHost[4] = "--host=";
  testkit::Run missing = box_->Sharemapper(noHost);
  EXPECT_EQ(missing.out, golden::FormLine("add_failed"));
  EXPECT_EQ(LogTails(*box_), std::vector<std::string>{"VkSharemapper::SambaDisk::Mount:114  ERR:  missing Parameter, "
                                                       "can't mount samdisk H:pub\\docssmtest***Docs1001"});
  EXPECT_EQ(box_->AppLog().find(server().Password()), std::string::npos);
}

TEST_F(LifeCycle, EmptyDsidConnectsButReportsFailure) {
  std::vector<std::string> args = AddArgs("k");
  args[9] = "--dsid=";
  testkit::Run run = box_->Sharemapper(args);
  EXPECT_EQ(run.out, golden::FormLine("add_failed"));
  EXPECT_EQ(run.status, kFailureStatus);
  EXPECT_EQ(LogTails(*box_).at(1), "VkSharemapper::SambaDisk::Mount:169  INFO:  Samba disk mount: 0");
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", kValueLabel), "Docs");
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", kValueUserId), "1001");
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", kValueDiskSessionId), "<none>");
  EXPECT_NE(box_->Sharemapper({}).out.find("\nK:\t127.0.0.1\t\t1001\t\t\tdummy\t\t\t\t\\pub\\docs"), std::string::npos);
}

TEST_F(LifeCycle, DeleteByLetterByVolumeAndWithoutRecord) {
  ASSERT_EQ(box_->Sharemapper(AddArgs("e")).out, golden::FormLine("add_success"));
  EXPECT_EQ(box_->Sharemapper({"--del", "--drive=e"}).out, golden::FormLine("delete_success"));
  EXPECT_EQ(LogTails(*box_), std::vector<std::string>{"VkSharemapper::SambaDisk::Unmount:198  INFO:  delete net disk sucessed"});
  EXPECT_EQ(box_->Sharemapper({}).out, golden::EmptyQuery());
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", kValueLabel), "<none>");

  ASSERT_EQ(box_->Sharemapper(AddArgs("f", "team")).out, golden::FormLine("add_success"));
  testkit::Run byVolume = box_->Sharemapper({"--del", "--volume=Docs", "--outformat=json"});
  EXPECT_EQ(byVolume.out, golden::Envelope("delete_success"));
  EXPECT_EQ(byVolume.status, 0);

  // A drive connected by other means has no record; deleting it still works.
  platform::NetResource resource;
  resource.localName = "J:";
  resource.remoteName = "\\\\127.0.0.1\\team";
  ASSERT_EQ(platform::network().AddConnection(resource, server().Password(), server().User(), kConnectTemporary), 0u);
  EXPECT_EQ(box_->Sharemapper({"--del", "--drive=j"}).out, golden::FormLine("delete_success"));

  for (const auto& format : {std::vector<std::string>{}, std::vector<std::string>{"--outformat=json"}}) {
    testkit::Run unknown = box_->Sharemapper(With({"--del", "--drive=q"}, format));
    EXPECT_EQ(unknown.status, kFailureStatus);
    EXPECT_EQ(unknown.out, format.empty() ? golden::FormLine("delete_not_found") : golden::Envelope("delete_not_found"));
  }
  EXPECT_EQ(platform::posix::UserDrives().LetterMask(), 0u);
}

// The private folders made readable by others by hand (a `mkdir -p`, a
// restore from backup) are closed again, and adds and deletes work.
TEST_F(LifeCycle, PrivateFoldersOthersMayReadAreClosedAgain) {
  const std::vector<std::string> folders = {box_->config + "/sharemapper", box_->runtime + "/sharemapper"};
  for (const std::string& folder : folders) {
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  }
  EXPECT_EQ(box_->Sharemapper(AddArgs("e")).out, golden::FormLine("add_success"));
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", "_LabelFromReg"), "Docs");
  EXPECT_EQ(box_->Sharemapper({"--del", "--drive=e"}).out, golden::FormLine("delete_success"));
  for (const std::string& folder : folders) EXPECT_EQ(testkit::ModeOf(folder), 0700u) << folder;
}

TEST_F(LifeCycle, AllTwentySixLetters) {
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    ASSERT_EQ(box_->Sharemapper(AddArgs(std::string(1, letter), letter % 2 ? "pub" : "team")).out, golden::FormLine("add_success"))
        << letter;
  }
  testkit::Run full = box_->Sharemapper(With(AddArgs("*"), {"--outformat=json"}));
  EXPECT_EQ(full.out, golden::Envelope("no_free_letter"));
  const auto rows = testkit::Lines(box_->Sharemapper({}).out);
  ASSERT_EQ(rows.size(), 28u);
  for (int i = 0; i < 26; ++i) EXPECT_EQ(rows[i + 1].substr(0, 3), std::string(1, static_cast<char>('A' + i)) + ":\t");
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    EXPECT_EQ(box_->Sharemapper({"--del", std::string("--drive=") + letter}).out, golden::FormLine("delete_success")) << letter;
  }
  EXPECT_EQ(box_->Sharemapper({}).out, golden::EmptyQuery());
  EXPECT_EQ(Read("##127.0.0.1#pub", kValueLabel), "<none>");
  EXPECT_EQ(Read("##127.0.0.1#team", kValueLabel), "<none>");
}

TEST_F(LifeCycle, EightProcessesAddingAndDeletingAtOnce) {
  constexpr int kWorkers = 8;
  constexpr int kRounds = 10;
  std::vector<std::thread> workers;
  std::vector<std::string> failures(kWorkers);
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      const std::string letter(1, static_cast<char>('M' + w));
      const std::string location = w % 2 ? "pub" : "team";
      for (int round = 0; round < kRounds; ++round) {
        testkit::Run add = box_->Sharemapper(With(AddArgs(letter, location), {"--outformat=json"}));
        if (add.out != golden::Envelope("add_success") || add.status != 0) {
          failures[w] += letter + " add round " + std::to_string(round) + ": " + add.out + add.err;
        }
        testkit::Run del = box_->Sharemapper({"--del", "--drive=" + letter});
        if (del.out != golden::FormLine("delete_success") || del.status != 0) {
          failures[w] += letter + " del round " + std::to_string(round) + ": " + del.out + del.err;
        }
      }
    });
  }
  for (auto& t : workers) t.join();
  for (const auto& f : failures) EXPECT_EQ(f, "");
  EXPECT_EQ(platform::posix::UserDrives().LetterMask(), 0u);
  EXPECT_EQ(Read("##127.0.0.1#pub", kValueLabel), "<none>");
  EXPECT_EQ(Read("##127.0.0.1#team", kValueLabel), "<none>");
  EXPECT_EQ(box_->Sharemapper({}).out, golden::EmptyQuery());
}

// Samba follows a symbolic link for its SMB2 clients and shows it as a plain
// folder or file. Per share setting, a bin holding links one level down, and
// a bin that is itself a link: the add empties what it may and changes
// nothing outside the bin.
//   links      Samba's own settings: links that stay inside the share are
//              followed, others are hidden from clients
//   widelinks  every link is followed
//   nofollow   no link is followed: the server hides them all
TEST_F(LifeCycle, AddNeverChangesWhatALinkInTheRecycleBinLeadsTo) {
  struct Share {
    std::string name;
    // What stays in the bin of links one level down: the folder links
    // always (the walk tells them by their file ids, or the server hides
    // them); a file link where the server hides it (a removal takes the link
    // only).
    std::set<std::string> left;
  };
  const std::vector<Share> shares = {
      {"links", {"evil", "wide", "oflink"}},
      {"widelinks", {"evil", "wide"}},
      {"nofollow", {"evil", "wide", "flink", "oflink"}},
  };
  // The bin itself a link: to a folder beside it, one further down, one
  // outside the share.
  const std::vector<std::string> binTargets = {"keep", "deep/keep2", ""};

  for (const Share& share : shares) {
    SCOPED_TRACE(share.name);
    const std::string root = server().SharePath(share.name);
    const std::string outside = server().StateDir() + "/outside-" + share.name;
    const std::string bin = root + "/$RECYCLE.BIN";
    ASSERT_EQ(std::system(("rm -rf '" + outside + "' && find '" + root + "' -mindepth 1 -delete && cd '" + root +
                           "' && mkdir -p keep/inner deep/keep2 '" + outside + "/odir' && echo k > keep/k.txt && "
                           "echo i > keep/inner/i.txt && echo k2 > deep/keep2/k2.txt && echo f > file.txt && "
                           "echo o > '" + outside + "/odir/o.txt' && echo of > '" + outside + "/ofile.txt'")
                              .c_str()),
              0);
    ASSERT_TRUE(server().GiveToTestAccount(root));
    ASSERT_TRUE(server().GiveToTestAccount(outside));
    ASSERT_EQ(::chmod(outside.c_str(), 0755), 0);
    // Read-only files behind the links: clearing the attribute through a
    // link would change them.
    ASSERT_EQ(server().SmbClient(share.name, "setmode keep\\k.txt +r; setmode file.txt +r"), 0);
    // A link to a file looks like a file to every client: its removal takes
    // the link only, but the read-only attribute it shows, cleared first so
    // that the removal is allowed, is the attribute of the file it leads to.
    const std::set<std::string> fileLinkTargets =
        share.left.count("flink") != 0 ? std::set<std::string>() : std::set<std::string>{"/file.txt"};

    const auto run = [&](const std::string& what) {
      SCOPED_TRACE(what);
      const testkit::Run add = box_->Sharemapper(AddArgs("e", share.name));
      EXPECT_EQ(add.out, golden::FormLine("add_success")) << box_->AppLog();
      EXPECT_EQ(add.status, 0);
      const testkit::Run del = box_->Sharemapper({"--del", "--drive=e"});
      EXPECT_EQ(del.out, golden::FormLine("delete_success"));
    };

    // Links one level down, beside a folder and a file that go.
    ASSERT_EQ(std::system(("mkdir -p '" + bin + "/real' && echo r > '" + bin + "/real/r.txt' && echo j > '" + bin +
                           "/junk.txt' && ln -s ../keep '" + bin + "/evil' && ln -s '" + outside + "/odir' '" + bin +
                           "/wide' && ln -s ../file.txt '" + bin + "/flink' && ln -s '" + outside + "/ofile.txt' '" +
                           bin + "/oflink'")
                              .c_str()),
              0);
    ASSERT_TRUE(server().GiveToTestAccount(bin));
    const auto shareBefore = Snapshot(root, bin, fileLinkTargets);
    const auto outsideBefore = Snapshot(outside);
    run("links one level down");
    EXPECT_EQ(Names(bin), share.left);
    EXPECT_EQ(Snapshot(root, bin, fileLinkTargets), shareBefore);
    EXPECT_EQ(Snapshot(outside), outsideBefore);

    for (const std::string& target : binTargets) {
      const std::string to = target.empty() ? outside + "/odir" : target;
      ASSERT_EQ(std::system(("rm -rf '" + bin + "' && ln -s '" + to + "' '" + bin + "'").c_str()), 0);
      ASSERT_TRUE(server().GiveToTestAccount(bin));
      const auto before = Snapshot(root);
      const auto outsideToo = Snapshot(outside);
      run("the bin a link to " + to);
      EXPECT_EQ(Snapshot(root), before);
      EXPECT_EQ(Snapshot(outside), outsideToo);
    }
    std::system(("find '" + root + "' -mindepth 1 -delete; rm -rf '" + outside + "'").c_str());
  }
}
