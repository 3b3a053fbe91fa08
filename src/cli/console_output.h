// Standard output as a stream: what is written to it collects until a flush
// (std::endl, std::flush, its end), which hands the piece to the console
// concern whole, in the encoding the stream was made with.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

#include "platform/console.h"

namespace VkSharemapper {

class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(platform::Encoding encoding) : encoding_(encoding) {}

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  // -1 when the write failed: the stream goes bad and takes nothing more,
  // as the standard stream does.
  int sync() override;

 private:
  platform::Encoding encoding_;
  std::string pending_;
};

class ConsoleOutput : public std::ostream {
 public:
  explicit ConsoleOutput(platform::Encoding encoding);
  ~ConsoleOutput() override;
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

 private:
  ConsoleBuffer buffer_;
};

// The encoding of a command's result: the form output holds the program's
// texts as they are, the JSON output is UTF-8.
inline platform::Encoding ResultEncoding(bool form) {
  return form ? platform::Encoding::kAnsi : platform::Encoding::kUtf8;
}

}  // namespace VkSharemapper
