// Which addresses a run of the program connects to, watched with strace
// (connect() calls only). Where strace is missing or cannot trace (ptrace
// forbidden in a container), runs go untraced and say so.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/runner.h"

namespace smtest {

struct Traced {
  testkit::Run run;
  bool traced = false;
  // "address:port" of every connect() to anything but a local socket.
  std::vector<std::string> peers;
};

// Runs the program in the sandbox, under strace when it works here.
Traced RunTraced(const testkit::Sandbox& box, const std::vector<std::string>& args);

// Every connection went to the loopback server.
::testing::AssertionResult OnlyLoopbackServer(const Traced& traced);
// The run connected to nothing at all.
::testing::AssertionResult NoNetworkAtAll(const Traced& traced);
// When traced: the run asked the loopback server (and nothing else) when
// `network`, and connected to nothing otherwise.
::testing::AssertionResult AskedTheServerOnlyIf(const Traced& traced, bool network);

}  // namespace smtest
