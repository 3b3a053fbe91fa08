#include "cli/options.h"

#include <cxxopts.hpp>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/console_output.h"
#include "cli/option_words.h"
#include "cli/result.h"
#include "disk/drive_letters.h"
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

// Before the parse has succeeded the output format is unknown; a caller that
// asked for JSON with --outformat=VALUE gets its error as an envelope.
bool WantsJsonBeforeParse(const std::vector<std::string>& args) {
  const std::string prefix = "--outformat=";
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") break;
    if (arg.compare(0, prefix.size(), prefix) == 0 && arg.substr(prefix.size()) != "form") return true;
  }
  return false;
}

std::vector<DeclaredOption> Declared(const cxxopts::Options& options) {
  std::vector<DeclaredOption> declared;
  for (const std::string& group : options.groups()) {
    for (const cxxopts::HelpOptionDetails& details : options.group_help(group).options) {
      DeclaredOption option;
      option.shortName = details.s;
      option.longNames = details.l;
      option.takesWord = !details.has_implicit;
      option.boolean = details.is_boolean;
      declared.push_back(option);
    }
  }
  return declared;
}

// The password is read from the copy of the arguments; the process's own
// argument strings, which other local users can read while it runs, lose it
// at once.
void ConcealPassword(int argc, char** argv, const WordScan& scan) {
  bool held = false;
  for (const OptionValue& value : scan.values) {
    if (value.option != "password" || value.word >= argc || argv[value.word] == nullptr) continue;
    char* text = argv[value.word];
    const std::size_t length = std::strlen(text);
    if (value.offset >= length) continue;
    if (!held) platform::system().ProtectSecret(std::string(text + value.offset));
    held = true;
    std::memset(text + value.offset, 'X', length - value.offset);
  }
}

std::vector<const char*> Pointers(const std::vector<std::string>& args, std::size_t count) {
  std::vector<const char*> pointers;
  for (std::size_t i = 0; i < count && i < args.size(); ++i) pointers.push_back(args[i].c_str());
  pointers.push_back(nullptr);
  return pointers;
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
OptionOutcome ParseFailed(const std::vector<std::string>& args, const std::string& what) {
  LogHead(AppLog, kLocation, logline::kOptionFailed, kLevelErr) << "Option Failed. " << what << std::endl;
  return Report(!WantsJsonBeforeParse(args), "error parsing options: " + what);
}

// No value of this program comes near this length; a longer word that
// begins with "-" is refused before it is parsed.
constexpr std::size_t kMaxDashArgument = 4096;

// The index of the first argument that begins with "-" and is longer than
// the limit, or 0 when there is none. Arguments after "--" are checked too: a
// value option takes even "--" as its value, and parsing goes on after it.
int OverlongDashArgument(const std::vector<std::string>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (!args[i].empty() && args[i][0] == '-' && args[i].size() > kMaxDashArgument) return static_cast<int>(i);
  }
  return 0;
}

}  // namespace

bool GetFreeDriveLetter(std::string& out) { return HighestFreeLetter(0, out); }

OptionOutcome SmOption::Process(int argc, char** argv) {
  std::unique_ptr<cxxopts::Options> options = DeclareOptions(argc > 0 ? argv[0] : "");
  std::vector<std::string> args;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) args.emplace_back(argv[i]);
  const WordScan scan = ScanWords(Declared(*options), args);
  ConcealPassword(argc, argv, scan);

  if (const int overlong = OverlongDashArgument(args)) {
    return ParseFailed(args, "Argument " + std::to_string(overlong) + " is longer than " +
                                 std::to_string(kMaxDashArgument) + " bytes");
  }
  try {
    if (scan.refused != 0) {
      // A fault of an earlier word is the parser's to report first.
      const std::vector<const char*> before = Pointers(args, static_cast<std::size_t>(scan.refused));
      options->parse(scan.refused, before.data());
      return ParseFailed(args, scan.error);
    }
    const std::vector<const char*> words = Pointers(args, args.size());
    const cxxopts::ParseResult result = options->parse(static_cast<int>(args.size()), words.data());

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
      const char first = platform::ToUpperAscii(value[0]);
      if (first >= 'A' && first <= 'Z') {
        driveName[0] = first;
        drive = driveName;
      } else if (first == '*') {
        std::string free;
        if (!GetFreeDriveLetter(free)) return Report(form, "system error,none availabe letter");
        driveName[0] = free[0];
        drive = driveName;
        anyLetter = true;
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
        driveName[0] = platform::ToUpperAscii(value[0]);
        driveGiven = true;
      }
      drive = driveName;
      volume = result["volume"].as<std::string>();
      return OptionOutcome();
    }
    return OptionOutcome();
  } catch (const cxxopts::exceptions::exception& e) {
    return ParseFailed(args, e.what());
  }
}

int SmOption::ProcOptions(int argc, char** argv) {
  const OptionOutcome outcome = Process(argc, argv);
  if (outcome.proceed) return 0;
  // The listing and the error report carry the command line's own bytes (the
  // program's name, an option's name), in the JSON envelope too.
  ConsoleOutput out(platform::Encoding::kAnsi);
  out << outcome.output << std::flush;
  std::exit(outcome.status);
}

}  // namespace VkSharemapper
