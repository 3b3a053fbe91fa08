#include "cli/options.h"

#include <cxxopts.hpp>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

#include "cli/result.h"
#include "log/applog.h"
#include "platform/platform.h"

namespace VkSharemapper {
namespace {

constexpr const char* kLocation = "VkSharemapper::SmOption::ProcOptions";
constexpr const char* kAddUsage = "[--option value ] ; all list must";
constexpr const char* kDeleteUsage = "[--option value ] ; must [volume]|[drive] ";

std::unique_ptr<cxxopts::Options> DeclareOptions(const char* program) {
  auto options = std::make_unique<cxxopts::Options>(program ? program : "", "Sharemapper - command line options");
  options->positional_help("[optional args]").show_positional_help();
  auto flag = [](const char* byDefault) {
    return cxxopts::value<bool>()->default_value(byDefault)->implicit_value("true");
  };
  auto text = []() { return cxxopts::value<std::string>()->default_value(""); };
  options->add_options()
      ("help", "Print help", flag("false"), "")
      ("add", "mount drive", flag("false"), "")
      ("del", "delete drive", flag("false"), "")
      ("q,query", "query list", flag("true"), "")
      ("outformat", "out format,json|form",
       cxxopts::value<std::string>()->default_value("form")->implicit_value("form"), "");
  options->add_options("dfs")
      ("d,domain", "must,domain value", text(), "")
      ("u,user", "user value", text(), "")
      ("p,password", "password value", text(), "")
      ("h,host", "host; e.g. 127.0.0.1", text(), "")
      ("l,location", "location path; e.g. user\\12345 ", text(), "")
      ("drive", "drive letter; e.g. E:,auto *", text(), "")
      ("v,volume", "drive name; e.g. my docment", text(), "")
      ("userid", "user id", text(), "")
      ("dsid", "disk session id", text(), "");
  return options;
}

// The parser renders an empty default as (default: ""); callers and the
// documentation know the listing with (default: ).
std::string Listing(cxxopts::Options& options, const std::vector<std::string>& groups) {
  std::string text = options.help(groups);
  const std::string quoted = "(default: \"\")";
  for (std::size_t at = text.find(quoted); at != std::string::npos; at = text.find(quoted, at)) {
    text.replace(at, quoted.size(), "(default: )");
  }
  return text;
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Before the parse has succeeded the output format is unknown; a caller that
// asked for JSON with --outformat=VALUE gets its error as an envelope.
bool WantsJsonBeforeParse(int argc, char** argv) {
  const std::string prefix = "--outformat=";
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg.compare(0, prefix.size(), prefix) == 0 && arg.substr(prefix.size()) != "form") return true;
  }
  return false;
}

OptionOutcome Stop(int status, std::string output) {
  OptionOutcome outcome;
  outcome.proceed = false;
  outcome.status = status;
  outcome.output = std::move(output);
  return outcome;
}

OptionOutcome Report(bool form, const std::string& message) {
  if (form) return Stop(kExitFailure, message + "\n");
  return Stop(kExitFailure, BuildResult(false, kErrorFailed, message, Poco::JSON::Object(0)) + "\n");
}

// A command line that cannot be parsed: logged, then reported with the
// parser's text.
OptionOutcome ParseFailed(int argc, char** argv, const std::string& what) {
  LogHead(AppLog, kLocation, logline::kOptionFailed, kLevelErr) << "Option Failed. " << what << std::endl;
  return Report(!WantsJsonBeforeParse(argc, argv), "error parsing options: " + what);
}

// The parser matches every argument that begins with "-" against a regular
// expression, and the standard library's matcher recurses once per byte: an
// argument of a few tens of thousands of bytes overflows the stack. No value
// of this program comes near the limit below, so a longer argument is refused
// before the parser sees it. Arguments after "--" are checked too: a value
// option takes even "--" as its value, and parsing goes on after it.
constexpr std::size_t kMaxDashArgument = 4096;

// The index of the first argument that begins with "-" and is longer than the
// parser can take, or 0 when there is none.
int OverlongDashArgument(int argc, char** argv) {
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (argv[i][0] == '-' && std::strlen(argv[i]) > kMaxDashArgument) return i;
  }
  return 0;
}

}  // namespace

bool GetFreeDriveLetter(std::string& out) {
  const std::uint32_t inUse = platform::system().LogicalDrives();
  char highest = 0;
  for (int bit = 0; bit < 26; ++bit) {
    if ((inUse & (1u << bit)) == 0) highest = static_cast<char>('A' + bit);
  }
  if (highest == 0) return false;
  out = std::string(1, highest) + ":";
  return true;
}

OptionOutcome SmOption::Process(int argc, char** argv) {
  std::unique_ptr<cxxopts::Options> options = DeclareOptions(argc > 0 ? argv[0] : "");
  if (const int overlong = OverlongDashArgument(argc, argv)) {
    return ParseFailed(argc, argv, "Argument " + std::to_string(overlong) + " is longer than " +
                                       std::to_string(kMaxDashArgument) + " bytes");
  }
  try {
    const cxxopts::ParseResult result = options->parse(argc, argv);

    if (result.count("help") != 0) return Stop(kExitSuccess, Listing(*options, {"", "Group"}) + "\n");

    add = result["add"].as<bool>();
    del = result["del"].as<bool>();
    query = result["query"].as<bool>();
    form = result["outformat"].as<std::string>() == "form";

    char driveName[3] = {'A', ':', '\0'};

    if (result.count("add") != 0) {
      for (const char* name : {"domain", "user", "password", "host", "location", "drive", "volume", "userid", "dsid"}) {
        if (result.count(name) == 0) {
          options->custom_help(kAddUsage);
          return Stop(kExitFailure, Listing(*options, {"dfs", "Group"}) + "\n");
        }
      }
      domain = result["domain"].as<std::string>();
      user = result["user"].as<std::string>();
      password = result["password"].as<std::string>();
      host = result["host"].as<std::string>();
      location = result["location"].as<std::string>();
      userid = result["userid"].as<std::string>();
      dsid = result["dsid"].as<std::string>();

      const std::string value = result["drive"].as<std::string>();
      if (value.empty()) return Report(form, "drive arg empty");
      const char first = UpperAscii(value)[0];
      if (first >= 'A' && first <= 'Z') {
        driveName[0] = first;
        drive = driveName;
      } else if (first == '*') {
        std::string free;
        if (!GetFreeDriveLetter(free)) return Report(form, "system error,none availabe letter");
        driveName[0] = free[0];
        drive = driveName;
      } else {
        return Report(form, "drive arg wrong");
      }
      volume = result["volume"].as<std::string>();
      return OptionOutcome();
    }

    if (result.count("del") != 0) {
      if (result.count("drive") == 0 && result.count("volume") == 0) {
        options->custom_help(kDeleteUsage);
        return Stop(kExitFailure, Listing(*options, {"dfs", "Group"}) + "\n");
      }
      const std::string value = result["drive"].as<std::string>();
      if (!value.empty()) {
        driveName[0] = UpperAscii(value)[0];
        driveGiven = true;
      }
      drive = driveName;
      volume = result["volume"].as<std::string>();
      return OptionOutcome();
    }
    return OptionOutcome();
  } catch (const cxxopts::exceptions::exception& e) {
    return ParseFailed(argc, argv, e.what());
  }
}

int SmOption::ProcOptions(int argc, char** argv) {
  const OptionOutcome outcome = Process(argc, argv);
  if (outcome.proceed) return 0;
  std::cout << outcome.output << std::flush;
  std::exit(outcome.status);
}

}  // namespace VkSharemapper
