#include "cli/option_words.h"

#include <cxxopts.hpp>

namespace VkSharemapper {
namespace {

// Letters and digits of the "C" locale, as the parser's option names use them.
bool IsAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool IsLongNameChar(char c) { return IsAlnum(c) || c == '-' || c == '_' || c == '.'; }

// A value may hold anything but a line end.
bool HasLineEnd(const std::string& text, std::size_t from) { return text.find_first_of("\r\n", from) != std::string::npos; }

const DeclaredOption* FindLong(const std::vector<DeclaredOption>& declared, const std::string& name) {
  for (const DeclaredOption& option : declared) {
    for (const std::string& longName : option.longNames) {
      if (longName == name) return &option;
    }
  }
  return nullptr;
}

const DeclaredOption* FindShort(const std::vector<DeclaredOption>& declared, char letter) {
  for (const DeclaredOption& option : declared) {
    if (option.shortName.size() == 1 && option.shortName[0] == letter) return &option;
  }
  return nullptr;
}

std::string NameOf(const DeclaredOption& option) {
  return option.longNames.empty() ? option.shortName : option.longNames.front();
}

void NormaliseBoolean(std::string& word, std::size_t at) {
  const std::string value = word.substr(at);
  if (value == "t" || value == "T") word.replace(at, std::string::npos, "true");
  if (value == "f" || value == "F") word.replace(at, std::string::npos, "false");
}

class Scanner {
 public:
  Scanner(const std::vector<DeclaredOption>& declared, std::vector<std::string>& args)
      : declared_(declared), args_(args) {}

  WordScan Run() {
    const int count = static_cast<int>(args_.size());
    for (word_ = 1; word_ < count; ++word_) {
      const std::string& text = args_[static_cast<std::size_t>(word_)];
      if (text == "--") break;
      if (text.compare(0, 2, "--") == 0) {
        LongOption();
      } else if (text.size() >= 2 && text[0] == '-') {
        ShortGroup();
      }
      // Any other word is left over, and ignored.
    }
    return scan_;
  }

 private:
  std::string& Text() { return args_[static_cast<std::size_t>(word_)]; }

  void Refuse(const std::string& error) {
    if (scan_.refused != 0) return;
    scan_.refused = word_;
    scan_.error = error;
  }

  // The next word is the value of option; it is passed over as a word.
  void TakeNextWord(const DeclaredOption& option) {
    if (word_ + 1 >= static_cast<int>(args_.size())) return;  // the parser says it is missing
    ++word_;
    scan_.values.push_back({word_, 0, NameOf(option)});
  }

  // "--name" or "--name=value"; the name is a letter or digit followed by at
  // least one letter, digit, "-", "_" or ".".
  void LongOption() {
    std::string& text = Text();
    std::size_t end = 2;
    if (end < text.size() && IsAlnum(text[end])) {
      ++end;
      while (end < text.size() && IsLongNameChar(text[end])) ++end;
    }
    const std::string name = text.substr(2, end - 2);
    const bool inlineValue = end < text.size() && text[end] == '=';
    if (name.size() < 2 || (end < text.size() && !inlineValue) || (inlineValue && HasLineEnd(text, end))) {
      Refuse(cxxopts::exceptions::invalid_option_syntax(text).what());
      return;
    }
    const DeclaredOption* option = FindLong(declared_, name);
    if (option == nullptr) {
      Refuse(cxxopts::exceptions::no_such_option(name).what());
      return;
    }
    if (inlineValue) {
      if (option->boolean) NormaliseBoolean(text, end + 1);
      scan_.values.push_back({word_, end + 1, NameOf(*option)});
    } else if (option->takesWord) {
      TakeNextWord(*option);
    }
  }

  // "-abc": each letter an option. A text option must be the last letter and
  // takes the next word.
  void ShortGroup() {
    const std::string text = Text();
    if (!IsAlnum(text[1]) || HasLineEnd(text, 2)) {
      Refuse(cxxopts::exceptions::invalid_option_syntax(text).what());
      return;
    }
    for (std::size_t at = 1; at < text.size(); ++at) {
      const std::string letter(1, text[at]);
      const DeclaredOption* option = FindShort(declared_, text[at]);
      if (option == nullptr) {
        Refuse(cxxopts::exceptions::no_such_option(letter).what());
        return;
      }
      if (!option->takesWord) continue;
      if (at + 1 < text.size()) {
        Refuse(cxxopts::exceptions::option_requires_argument(letter).what());
        // Whatever follows the letter may still be the value the caller meant.
        scan_.values.push_back({word_, at + 1, NameOf(*option)});
        return;
      }
      TakeNextWord(*option);
      return;
    }
  }

  const std::vector<DeclaredOption>& declared_;
  std::vector<std::string>& args_;
  WordScan scan_;
  int word_ = 0;
};

}  // namespace

WordScan ScanWords(const std::vector<DeclaredOption>& declared, std::vector<std::string>& args) {
  return Scanner(declared, args).Run();
}

}  // namespace VkSharemapper
