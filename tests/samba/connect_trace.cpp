#include "samba/connect_trace.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace smtest {
namespace {

const std::string& StracePath() {
  static const std::string path = [] {
    const std::string found = testkit::FindTool("strace");
    // ptrace may be forbidden (containers): then strace is no use here.
    const std::string probe = found + " -qq -e trace=connect -o /dev/null /bin/true >/dev/null 2>&1";
    if (!found.empty() && std::system(probe.c_str()) == 0) return found;
    std::cout << "[ NOTE     ] no working strace: the addresses runs contact are not checked" << std::endl;
    return std::string();
  }();
  return path;
}

std::string Between(const std::string& text, std::size_t from, const std::string& open, const std::string& close) {
  const std::size_t start = text.find(open, from);
  if (start == std::string::npos) return std::string();
  const std::size_t end = text.find(close, start + open.size());
  if (end == std::string::npos) return std::string();
  return text.substr(start + open.size(), end - start - open.size());
}

}  // namespace

Traced RunTraced(const testkit::Sandbox& box, const std::vector<std::string>& args) {
  Traced traced;
  if (StracePath().empty()) {
    traced.run = box.Sharemapper(args);
    return traced;
  }
  const std::string log = box.root + "/connect.trace";
  std::remove(log.c_str());
  // LeakSanitizer cannot work under ptrace and would fail every traced run
  // of a sanitizer build; leaks are checked by the untraced runs.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string asanOptions = std::string(asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
                                  "detect_leaks=0";
  std::vector<std::string> full{"-f", "-qq", "-E", "ASAN_OPTIONS=" + asanOptions, "-e", "trace=connect", "-o", log,
                                SHAREMAPPER_BINARY};
  full.insert(full.end(), args.begin(), args.end());
  traced.run = box.Command(StracePath(), full);
  traced.traced = true;
  for (const std::string& line : testkit::Lines(testkit::ReadFile(log))) {
    const std::size_t call = line.find("connect(");
    if (call == std::string::npos) continue;
    const std::size_t family = line.find("sa_family=", call);
    if (family == std::string::npos) continue;  // "<... connect resumed>"
    const std::string name = line.substr(family + 10, line.find_first_of(",}", family) - family - 10);
    if (name == "AF_UNIX" || name == "AF_LOCAL" || name == "AF_UNSPEC") continue;
    std::string address = name == "AF_INET" ? Between(line, family, "inet_addr(\"", "\"")
                                            : Between(line, family, "\"", "\"");
    if (address.empty()) address = name;
    const std::string port = Between(line, family, "htons(", ")");
    traced.peers.push_back(address + ":" + port);
  }
  return traced;
}

::testing::AssertionResult OnlyLoopbackServer(const Traced& traced) {
  for (const std::string& peer : traced.peers) {
    if (peer.rfind("127.0.0.1:", 0) != 0) return ::testing::AssertionFailure() << "connected to " << peer;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult NoNetworkAtAll(const Traced& traced) {
  if (traced.peers.empty()) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure() << "connected to";
  for (const std::string& peer : traced.peers) failure << " " << peer;
  return failure;
}

::testing::AssertionResult AskedTheServerOnlyIf(const Traced& traced, bool network) {
  if (!traced.traced) return ::testing::AssertionSuccess();
  if (!network) return NoNetworkAtAll(traced);
  if (traced.peers.empty()) return ::testing::AssertionFailure() << "connected to nothing";
  return OnlyLoopbackServer(traced);
}

}  // namespace smtest
