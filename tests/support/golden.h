// The listings the program prints, from the golden files in golden/, with
// the program's name and usage line filled in. Line ends are "\n" (see
// testkit::Native for the platform's own).
#pragma once

#include <string>

#include "support/golden_listings.h"

namespace golden {

inline std::string Fill(std::string text, const std::string& field, const std::string& value) {
  for (std::size_t at = text.find(field); at != std::string::npos; at = text.find(field, at + value.size())) {
    text.replace(at, field.size(), value);
  }
  return text;
}

// What --help prints for a program started as `program`.
inline std::string HelpListing(const std::string& program) { return Fill(kHelp, "@PROGRAM@", program); }

// The listing of the add options, under the usage line `usage`.
inline std::string DfsListing(const std::string& program, const std::string& usage) {
  return Fill(Fill(kDfs, "@PROGRAM@", program), "@USAGE@", usage);
}

// The form table's header line, and the whole table when no drive is mapped.
inline std::string QueryHeader() { return kQueryHeader; }
inline std::string EmptyQuery() { return QueryHeader() + ".\n"; }

// The envelope line named `name` in golden/envelopes.txt, with its line end;
// a text no run prints when there is no such name.
inline std::string Envelope(const std::string& name) {
  const std::string all = kEnvelopes;
  const std::string head = name + " ";
  for (std::size_t at = 0; at < all.size();) {
    std::size_t end = all.find('\n', at);
    if (end == std::string::npos) end = all.size();
    if (all.compare(at, head.size(), head) == 0) return all.substr(at + head.size(), end - at - head.size()) + "\n";
    at = end + 1;
  }
  return "<no golden envelope " + name + ">\n";
}

// The message of that envelope: the line the form output prints instead,
// without and with its line end.
inline std::string Message(const std::string& name) {
  const std::string envelope = Envelope(name);
  const std::string open = "\"message\":\"";
  const std::size_t from = envelope.find(open);
  const std::size_t to = envelope.find("\",\"success\":", from);
  if (from == std::string::npos || to == std::string::npos) return envelope;
  return envelope.substr(from + open.size(), to - from - open.size());
}
inline std::string FormLine(const std::string& name) { return Message(name) + "\n"; }

// The mapping record an add of \\10.0.0.5\user\12345 with the label "Docs",
// the user id "1001" and the disk session id "77" writes, as
// fakes::FakeRegistry::Listing shows it.
inline std::string MappingRecord() { return kMappingRecord; }

}  // namespace golden
