#include "docfile/fileio.h"

#include <cerrno>

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
  errno = 0;
  const std::size_t got = std::fread(into, 1, n, file_.get());
  if (got < n && std::ferror(file_.get())) fail();
  return got;
}

void InputFile::fail() const {
  throw Fatal(fail_message_, path_ + ": " + (errno ? std::strerror(errno) : "read error"));
}

}  // namespace punb
