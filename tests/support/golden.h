// The listings the program prints, from the golden files in golden/, with
// the program's name and usage line filled in. Line ends are "\n".
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

}  // namespace golden
