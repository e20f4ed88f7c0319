#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace punb {

// The file plumbing shared by readers and writers.

// A byte buffer that is not zero-filled: its pages cost nothing until they are written.
class ByteBuffer {
 public:
  explicit ByteBuffer(std::size_t size)
      : data_(std::make_unique_for_overwrite<char[]>(size)), size_(size) {}

  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }

  // Makes the buffer `size` bytes long, keeping its first `keep` bytes.
  void grow(std::size_t size, std::size_t keep) {
    auto larger = std::make_unique_for_overwrite<char[]>(size);
    std::memcpy(larger.get(), data_.get(), keep);
    data_ = std::move(larger);
    size_ = size;
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_;
};

// An open file that is closed when its owner goes, also when a run ends on a fault.
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// A document file open for reading. A failure to open or read ends the run with `fail_message`
// and the path and system error on standard error.
class InputFile {
 public:
  InputFile(std::string path, const char* fail_message);

  // Reads up to `n` bytes into `into`; returns how many, fewer only at the end of the file (or of
  // the part kept by keep_part).
  std::size_t read(char* into, std::size_t n);

  // Where the first line that starts at byte `at` or later starts (the size at the end): how a
  // file is cut into parts that hold whole lines.
  std::int64_t line_start_from(std::int64_t at);
  // From now on reads bytes `begin` to `end` only.
  void keep_part(std::int64_t begin, std::int64_t end);
  // Reads the file (or the kept part) again from its start.
  void rewind();

  const std::string& path() const { return path_; }
  const char* fail_message() const { return fail_message_; }
  std::int64_t size() const { return size_; }  // of the part read; -1 when unknown

 private:
  [[noreturn]] void fail() const;

  std::string path_;
  const char* fail_message_;
  FileHandle file_;
  std::int64_t size_ = -1;
  std::int64_t begin_ = 0;  // where the kept part starts
  std::int64_t left_ = -1;  // bytes of the kept part still to read; -1: to the end of the file
};

}  // namespace punb
