#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

namespace punb {

// The file plumbing shared by readers and writers.

// A byte buffer that is not zero-filled: its pages cost nothing until they are written.
class ByteBuffer {
 public:
  explicit ByteBuffer(std::size_t size)
      : data_(std::make_unique_for_overwrite<char[]>(size)), size_(size) {}

  char* data() { return data_.get(); }
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

}  // namespace punb
