// FdBuffer: a stream buffer that writes to a file descriptor it does not
// own. The first failed write is kept as a message naming the file, and
// later text is dropped. Internal to the output log.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <streambuf>
#include <string>

namespace qorv::log::detail {

class FdBuffer : public std::streambuf {
 public:
  // name is the file as messages name it.
  FdBuffer(int fd, std::string name) : fd_(fd), name_(std::move(name)) { setp(buffer_, buffer_ + sizeof buffer_); }

  // Writes out what is buffered; false once a write failed.
  bool Drain() {
    const char* begin = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    setp(buffer_, buffer_ + sizeof buffer_);
    while (left > 0 && problem_.empty()) {
      const ssize_t written = ::write(fd_, begin, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        problem_ = "cannot write " + name_ + ": " + std::strerror(written < 0 ? errno : ENOSPC);
        break;
      }
      begin += written;
      left -= static_cast<std::size_t>(written);
    }
    return problem_.empty();
  }

  // "" while every write succeeded.
  const std::string& problem() const { return problem_; }
  void set_problem(std::string problem) {
    if (problem_.empty()) problem_ = std::move(problem);
  }

 protected:
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
  int fd_;
  std::string name_;
  std::string problem_;
  char buffer_[1 << 16];
};

}  // namespace qorv::log::detail
