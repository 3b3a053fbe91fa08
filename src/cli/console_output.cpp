#include "cli/console_output.h"

#include "platform/platform.h"

namespace VkSharemapper {

ConsoleBuffer::int_type ConsoleBuffer::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) pending_ += traits_type::to_char_type(c);
  return traits_type::not_eof(c);
}

std::streamsize ConsoleBuffer::xsputn(const char* text, std::streamsize count) {
  pending_.append(text, static_cast<std::size_t>(count));
  return count;
}

int ConsoleBuffer::sync() {
  if (pending_.empty()) return 0;
  const platform::ErrorCode result = platform::console().WriteOutput(pending_, encoding_);
  pending_.clear();
  return result == platform::err::kSuccess ? 0 : -1;
}

ConsoleOutput::ConsoleOutput(platform::Encoding encoding) : std::ostream(nullptr), buffer_(encoding) {
  rdbuf(&buffer_);
}

ConsoleOutput::~ConsoleOutput() { flush(); }

}  // namespace VkSharemapper
