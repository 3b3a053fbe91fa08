// A private Samba server for tests: smbd on 127.0.0.1:445 with its own
// configuration and state under the build tree (see samba_fixture.sh for
// the configuration, the test account and the shares).
//
// End-to-end suites take the server through their fixture,
// smtest::SambaSandbox (samba_sandbox.h). Other tests use it from GoogleTest:
//
//   #include "samba/samba_server.h"
//
//   TEST(MyLayerTest, Something) {
//     SM_REQUIRE_SAMBA(server);   // skips the test when smbd cannot run here
//     // server.Host(), server.User(), server.Password(),
//     // server.RemoteName("pub") == "\\\\127.0.0.1\\pub",
//     // server.SharePath("pub") is the share's folder on this machine
//   }
//
// The first use in a test program starts the server unless it is already
// running (the CTest fixture "samba_server" starts it once for a whole
// ctest run); a server started by the program is stopped when the program
// ends. Tests that use it must carry the CTest property RESOURCE_LOCK smbd
// (and FIXTURES_REQUIRED samba_server), since port 445 is one.
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace smtest {

class SambaServer {
 public:
  // The server of this build tree.
  SambaServer();
  explicit SambaServer(std::string stateDir);
  ~SambaServer();
  SambaServer(const SambaServer&) = delete;
  SambaServer& operator=(const SambaServer&) = delete;

  // Starts the server, or takes the one already running for the same state
  // folder. False when it is not running afterwards; Unavailable() then
  // tells whether it cannot run here at all (not root, smbd not installed)
  // and Error() says why.
  bool Start();
  // Stops the server if this object started it (idempotent).
  void Stop();
  bool Running() const { return running_; }
  bool Unavailable() const { return unavailable_; }
  const std::string& Error() const { return error_; }

  static std::string Host() { return "127.0.0.1"; }
  // The account of tests/samba/test_account.
  static std::string User() { return SM_SAMBA_TEST_USER; }
  static std::string Password() { return SM_SAMBA_TEST_PASSWORD; }
  // The writable shares "pub" (with the folder "docs") and "team", the
  // read-only share "ro", and "denied", which the test account may not use.
  std::string RemoteName(const std::string& share) const;  // "\\127.0.0.1\share"
  std::string SharePath(const std::string& share) const;   // its folder here
  const std::string& StateDir() const { return stateDir_; }

  // Hands files made by the test (as root) in a share's folder to the test
  // account, so that the server may change them. Links are not followed.
  bool GiveToTestAccount(const std::string& path) const;

  // Runs smbclient on a share with the test account; `commands` as for
  // "smbclient -c". Returns its exit status; `output` gets what it printed.
  int SmbClient(const std::string& share, const std::string& commands,
                std::string* output = nullptr) const;

 private:
  int RunScript(const std::string& action, std::string* output) const;

  std::string stateDir_;
  bool running_ = false;
  bool owned_ = false;
  bool unavailable_ = false;
  std::string error_;
};

// The server shared by every test of a program, started on first use and
// stopped at the end of the program.
SambaServer& SharedSambaServer();

}  // namespace smtest

// Makes `var` a reference to the shared server, or ends the test: skipped
// when the server cannot run on this machine, failed when it should run but
// does not start.
#define SM_REQUIRE_SAMBA(var)                                                  \
  ::smtest::SambaServer& var = ::smtest::SharedSambaServer();                  \
  if (!var.Running() && !var.Start()) {                                        \
    if (var.Unavailable()) GTEST_SKIP() << "Samba test server: " << var.Error(); \
    FAIL() << "Samba test server did not start: " << var.Error();              \
  }
