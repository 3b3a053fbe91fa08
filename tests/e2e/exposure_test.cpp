// What a caller or another local user can get out of a run against the
// loopback Samba server: the password on the command line or in a core
// file, and the SMB library's own output.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "samba/connect_trace.h"
#include "samba/samba_sandbox.h"
#include "samba/samba_server.h"
#include "support/golden.h"
#include "support/runner.h"

using smtest::AddValues;
using smtest::On;
using smtest::RunTraced;
using smtest::Traced;
using testkit::Sandbox;
using testkit::WriteFile;

// The suite runs in the end-to-end fixture: the server and a sandbox per test.
using Robustness = smtest::SambaSandbox;

namespace {


// Starts the program with args in the sandbox without waiting for it, with
// core files allowed (written to its working directory).
pid_t StartDumpable(const Sandbox& box, const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (::chdir(box.cwd.c_str()) != 0) ::_exit(127);
  struct rlimit unlimited {RLIM_INFINITY, RLIM_INFINITY};
  ::setrlimit(RLIMIT_CORE, &unlimited);
  const int null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, 1);
  ::dup2(null, 2);
  std::vector<std::string> words = args;
  words.insert(words.begin(), SHAREMAPPER_BINARY);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  ::execv(SHAREMAPPER_BINARY, argv.data());
  ::_exit(127);
}

}  // namespace

// Another local user polling /proc/<pid>/cmdline never sees the password
// once the options are read, and a crash leaves no core file with it.
TEST_F(Robustness, PasswordLeavesTheCommandLineAndCoreFiles) {
  const std::string password = smtest::SambaServer::Password();
  for (int run = 0; run < 5; ++run) {
    const pid_t pid = StartDumpable(*box_, On("e", "pub\\docs").Args());
    ASSERT_GT(pid, 0);
    std::size_t reads = 0;
    bool concealed = false;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      const std::string line = testkit::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
      if (line.find("--password") == std::string::npos) continue;  // before exec
      ++reads;
      if (line.find(std::string(password.size(), 'X')) != std::string::npos) concealed = true;
      if (concealed) {
        EXPECT_EQ(line.find(password), std::string::npos) << "read " << reads;
      }
    }
    EXPECT_TRUE(concealed) << "no read after the options were read, in " << reads;
    Deleted("e");
  }

  if (testkit::ReadFile("/proc/sys/kernel/core_pattern").rfind("|", 0) == 0) {
    GTEST_SKIP() << "core files go to a program here, not to the working directory";
  }
  bool crashed = false;
  for (int attempt = 0; attempt < 5 && !crashed; ++attempt) {
    const pid_t pid = StartDumpable(*box_, On("e", "pub\\docs").Args());
    ASSERT_GT(pid, 0);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      const std::string line = testkit::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
      if (line.find(std::string(password.size(), 'X')) == std::string::npos) continue;
      ::kill(pid, SIGABRT);
      ::waitpid(pid, &status, 0);
      break;
    }
    crashed = WIFSIGNALED(status);
    Deleted("e");
  }
  ASSERT_TRUE(crashed);
  for (const auto& entry : std::filesystem::directory_iterator(box_->cwd)) {
    if (entry.path().filename().string().rfind("core", 0) != 0) continue;
    EXPECT_EQ(testkit::ReadFile(entry.path().string()).find(password), std::string::npos) << entry.path();
  }
}

// libsmbclient writes notes of its own to standard output ("Unable to follow
// dfs referral", "Could not resolve ...") and, with the debug level a user's
// smb.conf may ask for, pages of debug lines. Here a DFS link leads to a
// loopback address where nothing listens, once inside the recycle bin that
// the add empties and once as the location itself, with the library's most
// verbose level set in every configuration a user could hand it: each run
// still prints its one result line and nothing on standard error.
TEST_F(Robustness, TheSmbLibraryPrintsNothingWhateverItsSettings) {
  const std::string home = box_->root + "/home";
  ASSERT_EQ(std::system(("mkdir -p '" + home + "/.smb'").c_str()), 0);
  WriteFile(home + "/.smb/smb.conf", "[global]\n  log level = 10\n  debug stdout = yes\n");
  box_->env["HOME"] = home;
  box_->env["SMB_CONF_PATH"] = home + "/.smb/smb.conf";

  struct Case {
    AddValues values;
    std::string out;
  };
  const std::vector<Case> cases = {
      {On("e", "dfs"), golden::Envelope("add_success")},
      {On("f", "dfs\\away"), golden::Envelope("add_failed")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values.location);
    const Traced add = RunTraced(*box_, c.values.Args());
    EXPECT_EQ(add.run.out, c.out);
    EXPECT_EQ(add.run.err, "");
    if (add.traced) {
      // The referral was followed, and to the loopback range only.
      bool referral = false;
      for (const std::string& peer : add.peers) {
        EXPECT_EQ(peer.rfind("127.", 0), 0u) << peer;
        referral = referral || peer.rfind("127.0.0.9:", 0) == 0;
      }
      EXPECT_TRUE(referral);
    }
  }
  const testkit::Run form = Run({});
  EXPECT_EQ(form.err, "");
  EXPECT_EQ(testkit::Lines(form.out).size(), 3u) << form.out;  // the header, E, "."
  const testkit::Run del = Run({"--del", "--drive=e", "--outformat=json"});
  EXPECT_EQ(del.out, golden::Envelope("delete_success"));
  EXPECT_EQ(del.err, "");
}
