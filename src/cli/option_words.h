// The words of a command line as the option parser reads them, worked out
// before it runs: which words carry the value of which option, and the first
// word the parser must refuse. The parser is built without regular
// expressions (they cost start-up time and recurse once per byte); this scan
// keeps its reading of every word exactly as it was with them, and refuses a
// text option inside a group of short options ("-dq", "-h10.0.0.1"), whose
// value could only be the letters glued to it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace VkSharemapper {

// One declared option, as far as the scan needs it.
struct DeclaredOption {
  std::string shortName;               // one letter, or empty
  std::vector<std::string> longNames;  // "password", ...
  bool takesWord = false;              // no implicit value: "--host x" takes x
  bool boolean = false;                // its value is read as true or false
};

// The value of a text option: args[word] from byte offset on.
struct OptionValue {
  int word = 0;
  std::size_t offset = 0;
  std::string option;  // the option's first long name
};

struct WordScan {
  std::vector<OptionValue> values;
  int refused = 0;    // index of the first word to refuse; 0 when there is none
  std::string error;  // the parser's text for that word
};

// Reads args (args[0] is the program) as the parser does, up to a "--" that
// ends the options. Every value is listed, also after a refused word. A
// boolean value written "t", "T", "f" or "F", which the parser reads as true
// or false only with regular expressions, is rewritten in args to "true" or
// "false".
WordScan ScanWords(const std::vector<DeclaredOption>& declared, std::vector<std::string>& args);

}  // namespace VkSharemapper
