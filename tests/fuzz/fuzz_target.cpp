// libFuzzer entry over the code that takes outside input: the command line,
// the remote names that the network layer reports (their split into host and
// location, the mapping key names built from them, the query that reads the
// records under those names), and the texts that end up in the JSON envelope
// and the form table.
//
// Input layout
//   byte 0   area, taken modulo 3 ('0', '1', '2' in the seeds)
//   byte 1   stretch: from 0xE0 up, the first field's last byte is repeated
//            (b - 0xDF) * 4096 more times, so that short inputs reach long
//            texts (up to 128 KiB); below 0xE0 ('@' in the seeds) nothing
//   area 0   command line. Byte 2: drives in use, the highest (b % 27)
//            letters. The rest: the arguments after the program name,
//            separated by NUL or line feed.
//   area 1   remote names, separated by NUL or line feed; the first goes to
//            drive A, the next to B, and so on.
//   area 2   texts, separated by line feed only (NUL bytes stay inside):
//            the message, then drive entries of six texts each (drive, host,
//            location, userid, dsid, volume).
//
// Every property checked below is one that must hold for every input; a
// violation prints what went wrong and aborts, which libFuzzer reports as a
// crash and keeps the input.

#include <Poco/Dynamic/Var.h>
#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/drive_list_output.h"
#include "cli/options.h"
#include "cli/result.h"
#include "disk/mapping_record.h"
#include "disk/query.h"
#include "support/fakes.h"
#include "support/golden.h"
#include "utils/vkreg.h"

using namespace VkSharemapper;

namespace {

constexpr std::size_t kMaxArguments = 64;
constexpr std::size_t kMaxRemoteNames = 26;
constexpr std::size_t kMaxEntries = 32;
constexpr std::size_t kStretchUnit = 4096;
constexpr const char* kProgram = "sharemapper";

// ---------------------------------------------------------------- checking

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "\n*** property violated: %s\n*** detail (%zu bytes): ", what, detail.size());
  std::fwrite(detail.data(), 1, std::min<std::size_t>(detail.size(), 2000), stderr);
  std::fprintf(stderr, "\n");
  std::abort();
}

#define CHECK(condition, detail)                  \
  do {                                            \
    if (!(condition)) Fail(#condition, (detail)); \
  } while (0)

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// ------------------------------------------------------------- input split

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  std::uint8_t Byte() { return at < size ? data[at++] : 0; }
};

std::vector<std::string> Fields(Input& in, bool nulSeparates, std::size_t maxCount) {
  std::vector<std::string> fields;
  std::string current;
  for (; in.at < in.size; ++in.at) {
    const char c = static_cast<char>(in.data[in.at]);
    if (c == '\n' || (nulSeparates && c == '\0')) {
      fields.push_back(current);
      current.clear();
      if (fields.size() == maxCount) return fields;
    } else {
      current += c;
    }
  }
  if (!current.empty() || fields.empty()) fields.push_back(current);
  if (fields.size() > maxCount) fields.resize(maxCount);
  return fields;
}

void Stretch(std::vector<std::string>& fields, std::uint8_t stretch) {
  if (stretch < 0xE0 || fields.empty() || fields[0].empty()) return;
  fields[0].append((stretch - 0xDF) * kStretchUnit, fields[0].back());
}

// ------------------------------------------------------------ JSON reading

// The envelope carries texts as the bytes the program holds (code page
// bytes, not necessarily UTF-8), and bytes above 127 are written unchanged.
// Reading every byte as Latin-1 turns any such text into valid JSON without
// touching its structure, and maps each string one to one, so the strings
// that come back can be compared byte for byte with the same mapping of
// what went in.
std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Poco::JSON::Object::Ptr ParseEnvelope(const std::string& text) {
  CHECK(!text.empty() && text.front() == '{' && text.back() == '}', text);
  for (unsigned char c : text) CHECK(c >= 0x20, text);  // one line, control bytes escaped
  CHECK(StartsWith(text, "{\"data\":"), text);
  // Every slash is written escaped, as a backslash and the slash.
  std::size_t backslashes = 0;
  for (char c : text) {
    if (c == '/') CHECK(backslashes % 2 == 1, text);
    backslashes = c == '\\' ? backslashes + 1 : 0;
  }
  Poco::JSON::Object::Ptr envelope;
  try {
    Poco::JSON::Parser parser;
    envelope = parser.parse(Latin1ToUtf8(text)).extract<Poco::JSON::Object::Ptr>();
  } catch (const Poco::Exception& e) {
    Fail("envelope parses as JSON", e.displayText() + " in " + text);
  }
  CHECK(envelope && envelope->size() == 4, text);
  CHECK(envelope->has("data") && envelope->has("errorCode") && envelope->has("message") && envelope->has("success"),
        text);
  CHECK(envelope->get("message").isString(), text);
  CHECK(envelope->get("success").isBoolean(), text);
  CHECK(envelope->get("errorCode").isInteger(), text);
  return envelope;
}

std::string Member(const Poco::JSON::Object::Ptr& object, const std::string& name) {
  return object->getValue<std::string>(name);
}

// The envelope of a list of drive entries: the message and every record read
// back to the texts they were built from.
void CheckListEnvelope(const std::string& message, const DriveList& list, platform::Text& text) {
  const std::string json = BuildListResult(message, BuildQueryRecords(list));
  const Poco::JSON::Object::Ptr envelope = ParseEnvelope(json);
  CHECK(Member(envelope, "message") == Latin1ToUtf8(message), json);
  CHECK(envelope->getValue<bool>("success") && envelope->getValue<int>("errorCode") == kErrorNone, json);
  const Poco::JSON::Array::Ptr records = envelope->getArray("data");
  CHECK(records && records->size() == list.size(), json);
  for (std::size_t i = 0; i < list.size(); ++i) {
    const SambaDisk& disk = *list[i];
    const Poco::JSON::Object::Ptr record = records->getObject(static_cast<unsigned>(i));
    CHECK(record && record->size() == 6, json);
    // Every text but the drive goes through the label's conversion.
    const auto converted = [&](const std::string& field) {
      return Latin1ToUtf8(text.OemToUtf8(field.substr(0, field.find('\0'))));
    };
    CHECK(Member(record, "drive") == Latin1ToUtf8(disk.drive), json);
    CHECK(Member(record, "host") == converted(disk.host), json);
    CHECK(Member(record, "location") == converted(disk.location), json);
    CHECK(Member(record, "userid") == converted(disk.userid), json);
    CHECK(Member(record, "dsid") == converted(disk.dsid), json);
    CHECK(Member(record, "volumename") == converted(disk.volume), json);
  }
}

// The form table: header, one line per entry, "."; each cell followed by the
// tabs that bring the next cell to its column.
void CheckFormTable(const DriveList& list) {
  std::ostringstream out;
  PrintFormTable(out, list);
  const std::string table = out.str();
  const std::string header = golden::QueryHeader();
  CHECK(StartsWith(table, header), table);
  CHECK(table.size() >= header.size() + 2 && table.compare(table.size() - 2, 2, ".\n") == 0, table);
  bool linesInFields = false;
  for (const auto& disk : list) {
    for (const std::string* field : {&disk->drive, &disk->host, &disk->userid, &disk->dsid, &disk->location,
                                     &disk->volume}) {
      linesInFields = linesInFields || field->find('\n') != std::string::npos;
    }
  }
  if (!linesInFields) {
    CHECK(static_cast<std::size_t>(std::count(table.begin(), table.end(), '\n')) == list.size() + 2, table);
  }
}

void CheckColumnFill(std::size_t length) {
  for (std::size_t width : {8u, 24u, 32u, 48u}) {
    const std::string fill = ColumnFill(length, width);
    CHECK(fill.find_first_not_of('\t') == std::string::npos, fill);
    if (length < width) {
      // The next cell starts exactly at the column's end.
      CHECK((length / 8) * 8 + 8 * fill.size() == width, std::to_string(length) + "/" + std::to_string(width));
    } else {
      CHECK(fill.empty(), std::to_string(length) + "/" + std::to_string(width));
    }
  }
}

// ------------------------------------------------------------- command line

const std::string kHelpListing = golden::HelpListing(kProgram);

std::string DfsListing(const std::string& usage) { return golden::DfsListing(kProgram, usage); }

const char* const kDriveMessages[] = {"drive arg empty", "drive arg wrong", "system error,none availabe letter"};

bool IsDriveMessage(const std::string& message) {
  return std::find(std::begin(kDriveMessages), std::end(kDriveMessages), message) != std::end(kDriveMessages);
}

struct Run {
  SmOption options;
  OptionOutcome outcome;
};

std::unique_ptr<Run> Process(const std::vector<std::string>& arguments) {
  std::vector<std::string> storage;
  storage.push_back(kProgram);
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  auto run = std::make_unique<Run>();
  run->outcome = run->options.Process(static_cast<int>(storage.size()), argv.data());
  // The arguments are only read, but for the password's bytes, which are
  // overwritten in place.
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    CHECK(storage[i + 1].size() == arguments[i].size(), arguments[i]);
    for (std::size_t at = 0; at < arguments[i].size(); ++at) {
      CHECK(storage[i + 1][at] == arguments[i][at] || storage[i + 1][at] == 'X', arguments[i]);
    }
  }
  return run;
}

void FuzzCommandLine(Input& in, fakes::Installed& fake) {
  const std::uint8_t stretch = in.Byte();
  const unsigned taken = in.Byte() % 27;  // the highest `taken` letters are in use
  fake.system.drives = taken == 0 ? 0u : ((1u << 26) - 1) & ~((1u << (26 - taken)) - 1);
  std::vector<std::string> arguments = Fields(in, true, kMaxArguments);
  if (arguments.size() == 1 && arguments[0].empty()) arguments.clear();
  Stretch(arguments, stretch);

  std::string freeLetter = "unchanged";
  const bool anyFree = GetFreeDriveLetter(freeLetter);
  CHECK(anyFree == (taken < 26), freeLetter);
  CHECK(freeLetter == (anyFree ? std::string(1, static_cast<char>('Z' - taken)) + ":" : "unchanged"), freeLetter);

  const std::unique_ptr<Run> run = Process(arguments);
  const SmOption& options = run->options;
  const OptionOutcome& outcome = run->outcome;

  // The same command line gives the same outcome again.
  const std::unique_ptr<Run> again = Process(arguments);
  CHECK(again->outcome.proceed == outcome.proceed && again->outcome.status == outcome.status &&
            again->outcome.output == outcome.output && again->options.drive == options.drive,
        outcome.output);

  // Whatever was decided, a drive name is a single byte and a colon.
  const std::string& drive = options.drive;
  CHECK(drive.empty() || (drive.size() == 2 && drive[1] == ':' && drive[0] != '\0' &&
                          !(drive[0] >= 'a' && drive[0] <= 'z')),
        drive);

  if (outcome.proceed) {
    CHECK(outcome.status == 0 && outcome.output.empty(), outcome.output);
    // The add command goes on only with a drive letter A to Z.
    if (options.add) CHECK(drive.size() == 2 && drive[0] >= 'A' && drive[0] <= 'Z', drive);
    return;
  }

  CHECK(outcome.status == kExitSuccess || outcome.status == kExitFailure, std::to_string(outcome.status));
  CHECK(!outcome.output.empty() && outcome.output.back() == '\n', outcome.output);
  if (outcome.status == kExitSuccess) {
    CHECK(outcome.output == kHelpListing, outcome.output);
    return;
  }
  if (outcome.output == DfsListing("[--option value ] ; all list must") ||
      outcome.output == DfsListing("[--option value ] ; must [volume]|[drive] ")) {
    return;
  }

  // An error report: a plain line or a one-line envelope.
  const std::string line = outcome.output.substr(0, outcome.output.size() - 1);
  CHECK(line.find('\n') == std::string::npos, outcome.output);
  std::string message = line;
  bool asJson = false;
  if (!line.empty() && line.front() == '{') {
    const Poco::JSON::Object::Ptr envelope = ParseEnvelope(line);
    CHECK(!envelope->getValue<bool>("success") && envelope->getValue<int>("errorCode") == kErrorFailed, line);
    const Poco::JSON::Object::Ptr data = envelope->getObject("data");
    CHECK(data && data->size() == 0, line);
    message = Member(envelope, "message");
    asJson = true;
  }
  if (IsDriveMessage(message)) {
    // The drive checks come after the output format is known.
    CHECK(asJson == !options.form, line);
    CHECK(options.drive.empty(), options.drive);
    if (message == "system error,none availabe letter") CHECK(!anyFree, line);
    return;
  }
  CHECK(StartsWith(message, "error parsing options: "), line);
}

// ------------------------------------------------------------- remote names

bool IsPlainComponent(const std::string& text) {
  return !text.empty() && text != "." && text != ".." &&
         std::none_of(text.begin(), text.end(), [](char c) { return IsSeparator(c); });
}

void CheckSplit(const std::string& remote, const std::string& host, const std::string& location) {
  CHECK(std::none_of(host.begin(), host.end(), IsSeparator), remote + " -> " + host);
  CHECK(location.find('/') == std::string::npos, remote + " -> " + location);
  CHECK(location.find("\\\\") == std::string::npos, remote + " -> " + location);

  const bool unc = remote.size() >= 2 && IsSeparator(remote[0]) && IsSeparator(remote[1]);
  if (unc) {
    CHECK(!location.empty() && location[0] == '\\', remote + " -> " + location);
    CHECK(location.size() == 1 || location.back() != '\\', remote + " -> " + location);
  }

  // The names of the mapping record. The record the query reads for a remote
  // name is the one that the split's host and location name, as long as the
  // split gave the name back whole.
  std::string replaced = remote;
  replaceBackslashes(replaced);
  CHECK(replaced.size() == remote.size() && replaced.find('\\') == std::string::npos, replaced);
  // A name that is no share's names no key at all: never MountPoints2
  // itself nor a key beside the records.
  const std::string fromRemote = MappingKeyPathFromRemote(remote);
  CHECK(fromRemote.empty() || fromRemote == std::string(kMountPoints2) + replaced, fromRemote);
  CHECK(fromRemote.empty() || fromRemote.compare(std::strlen(kMountPoints2), 2, "##") == 0, fromRemote);
  CHECK(fromRemote.empty() || fromRemote.size() > std::strlen(kMountPoints2) + 3, fromRemote);
  // Mount names the record of \\host\location as the query later reads it.
  CHECK(MappingKeyPath(host, remote) == MappingKeyPathFromRemote("\\\\" + host + "\\" + remote), remote);

  // \\host\share with two plain components splits exactly, and all three
  // ways of naming the record agree.
  if (remote.size() > 2 && remote[0] == '\\' && remote[1] == '\\') {
    const std::size_t separator = remote.find('\\', 2);
    if (separator != std::string::npos) {
      const std::string h = remote.substr(2, separator - 2);
      const std::string share = remote.substr(separator + 1);
      if (IsPlainComponent(h) && IsPlainComponent(share)) {
        CHECK(host == h && location == "\\" + share, remote + " -> " + host + " | " + location);
        CHECK(!fromRemote.empty() && MappingKeyPath(h, share) == fromRemote, remote);
      }
    }
  }
}

void FuzzRemoteNames(Input& in, fakes::Installed& fake) {
  const std::uint8_t stretch = in.Byte();
  std::vector<std::string> names = Fields(in, true, kMaxRemoteNames);
  Stretch(names, stretch);

  struct Expected {
    std::string drive, host, location;
    const std::string* name;
  };
  std::vector<Expected> expected;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    std::string host = "unset";
    std::string location = "unset";
    SplitRemoteName(name, host, location);
    CheckSplit(name, host, location);

    // Put the name on a drive, with a mapping record for some of them and a
    // volume name for the others; a few are remembered connections.
    const std::string drive = std::string(1, static_cast<char>('A' + i)) + ":";
    if (i % 4 == 3) {
      fake.network.remembered[drive] = name;
    } else {
      fake.network.connections[drive] = name;
    }
    const std::string key = MappingKeyPathFromRemote(name);
    if (i % 2 == 0 && !key.empty()) {
      auto& values = fake.registry.keys[key];
      values[kValueLabel] = "label " + std::to_string(i);
      values[kValueUserId] = name;
      // A value holds text up to its first zero byte.
      values[kValueDiskSessionId] = std::to_string(i) + std::string(1, '\0') + name;
    } else {
      fake.network.volumes[drive] = name;
    }
    // Listed unless the name is too long for the network layer's answer.
    if (name.size() + 1 < (1u << 16)) expected.push_back({drive, host, location, &name});
  }

  DriveList list;
  CHECK(QueryNetDisks(list), std::string());
  CHECK(list.size() == expected.size(), std::to_string(list.size()));
  CHECK(fake.registry.OpenHandles() == 0, std::string("registry keys left open"));
  for (std::size_t i = 0; i < list.size(); ++i) {
    const SambaDisk& disk = *list[i];
    const Expected& want = expected[i];
    const std::string& name = *want.name;
    CHECK(disk.mounted && disk.drive == want.drive, disk.drive);
    CHECK(disk.host == want.host && disk.location == want.location, name);
    CHECK(disk.domain.empty() && disk.user.empty() && disk.password.empty(), name);

    // What the record holds, when the helpers can reach it at all.
    const std::string key = MappingKeyPathFromRemote(name);
    const bool reachable = !key.empty() && key.size() < DAVeruv::kWorkingPathSize;
    auto stored = [&](const char* value, std::string& out) {
      auto record = fake.registry.keys.find(key);
      if (!reachable || record == fake.registry.keys.end()) return false;
      auto it = record->second.find(value);
      if (it == record->second.end() || it->second.size() > DAVeruv::kReadBufferSize) return false;
      out = it->second;
      return true;
    };
    std::string value;
    CHECK(disk.userid == (stored(kValueUserId, value) ? value : "dummy"), disk.userid);
    CHECK(disk.dsid == (stored(kValueDiskSessionId, value) ? value.substr(0, value.find('\0')) : "dummy"),
          disk.dsid);
    if (stored(kValueLabel, value)) {
      CHECK(disk.volume == value, disk.volume);
    } else {
      auto volume = fake.network.volumes.find(disk.drive);
      const bool fits = volume != fake.network.volumes.end() && volume->second.size() < 260;
      CHECK(disk.volume == (fits ? volume->second : std::string()), disk.volume);
    }
  }

  CheckListEnvelope("query success", list, fake.text);
  CheckFormTable(list);
}

// ------------------------------------------------------------ output texts

void FuzzOutputTexts(Input& in, fakes::Installed& fake) {
  const std::uint8_t stretch = in.Byte();
  std::vector<std::string> texts = Fields(in, false, 1 + 6 * kMaxEntries);
  Stretch(texts, stretch);
  const std::string message = texts[0];

  for (bool success : {false, true}) {
    const int code = success ? kErrorNone : kErrorFailed;
    const std::string json = BuildResult(success, code, message, Poco::JSON::Object(0));
    const Poco::JSON::Object::Ptr envelope = ParseEnvelope(json);
    CHECK(Member(envelope, "message") == Latin1ToUtf8(message), json);
    CHECK(envelope->getValue<bool>("success") == success && envelope->getValue<int>("errorCode") == code, json);
    const Poco::JSON::Object::Ptr data = envelope->getObject("data");
    CHECK(data && data->size() == 0, json);
  }

  DriveList list;
  for (std::size_t first = 1; first < texts.size(); first += 6) {
    auto text = [&](std::size_t k) { return first + k < texts.size() ? texts[first + k] : std::string(); };
    auto disk = std::make_unique<SambaDisk>();
    disk->drive = text(0);
    disk->host = text(1);
    disk->location = text(2);
    disk->userid = text(3);
    disk->dsid = text(4);
    disk->volume = text(5);
    for (const std::string* field : {&disk->drive, &disk->host, &disk->userid, &disk->dsid, &disk->location}) {
      CheckColumnFill(field->size());
    }
    list.push_back(std::move(disk));
  }
  CheckListEnvelope(message, list, fake.text);
  CheckFormTable(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  fakes::Installed fake;  // no real drive, registry, network or code page
  Input in{data, size};
  switch (in.Byte() % 3) {
    case 0:
      FuzzCommandLine(in, fake);
      break;
    case 1:
      FuzzRemoteNames(in, fake);
      break;
    default:
      FuzzOutputTexts(in, fake);
      break;
  }
  return 0;
}
