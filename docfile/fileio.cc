#include "docfile/fileio.h"

#include <cerrno>
#include <cstdint>

#include "docfile/fatal.h"

namespace punb {

InputFile::InputFile(std::string path, const char* fail_message)
    : path_(std::move(path)), fail_message_(fail_message) {
  errno = 0;
  file_.reset(std::fopen(path_.c_str(), "rb"));
  if (!file_) fail();
  if (std::fseek(file_.get(), 0, SEEK_END) == 0) {
    size_ = std::ftell(file_.get());
    std::rewind(file_.get());
  }
  std::clearerr(file_.get());  // a directory opens but cannot seek; its first read fails
}

std::size_t InputFile::read(char* into, std::size_t n) {
  if (left_ >= 0 && static_cast<std::uint64_t>(left_) < n) n = static_cast<std::size_t>(left_);
  errno = 0;
  const std::size_t got = std::fread(into, 1, n, file_.get());
  if (got < n && std::ferror(file_.get())) fail();
  if (left_ >= 0) left_ -= static_cast<std::int64_t>(got);
  return got;
}

std::int64_t InputFile::line_start_from(std::int64_t at) {
  if (at <= 0) return 0;
  if (at >= size_) return size_;
  // The line that starts at `at` is the one after the line end at `at` - 1, or after the next.
  if (fseeko(file_.get(), at - 1, SEEK_SET) != 0) fail();
  char chunk[1 << 16];
  std::int64_t from = at - 1;
  for (;;) {
    errno = 0;
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file_.get());
    if (got == 0) {
      if (std::ferror(file_.get())) fail();
      return size_;
    }
    if (const void* end = std::memchr(chunk, '\n', got)) {
      return from + (static_cast<const char*>(end) - chunk) + 1;
    }
    from += static_cast<std::int64_t>(got);
  }
}

void InputFile::keep_part(std::int64_t begin, std::int64_t end) {
  if (fseeko(file_.get(), begin, SEEK_SET) != 0) fail();
  begin_ = begin;
  left_ = end - begin;
  size_ = left_;
}

void InputFile::rewind() {
  errno = 0;
  if (fseeko(file_.get(), begin_, SEEK_SET) != 0) fail();
  if (left_ >= 0) left_ = size_;
}

void InputFile::fail() const {
  throw Fatal(fail_message_, path_ + ": " + (errno ? std::strerror(errno) : "read error"));
}

}  // namespace punb
