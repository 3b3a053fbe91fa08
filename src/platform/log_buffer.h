// The buffer of a log file that each run writes anew: each flush goes out at
// once; after a failed write (a full disk) it takes nothing more, so the
// stream above it goes bad and later lines are lost.
#pragma once

#include <cstddef>
#include <streambuf>

namespace platform {

class LogBuffer : public std::streambuf {
 public:
  LogBuffer() { setp(buffer_, buffer_ + sizeof buffer_); }
  LogBuffer(const LogBuffer&) = delete;
  LogBuffer& operator=(const LogBuffer&) = delete;

 protected:
  // Writes all of `data`; false when that failed. A derived buffer calls
  // Drain in its destructor, before it closes the file.
  virtual bool Write(const char* data, std::size_t size) = 0;

  bool Drain() {
    if (!failed_ && pptr() > pbase()) failed_ = !Write(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof buffer_);
    return !failed_;
  }

  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  int sync() override { return Drain() ? 0 : -1; }

 private:
  bool failed_ = false;
  char buffer_[1024];
};

}  // namespace platform
