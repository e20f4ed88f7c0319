#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vectorize/sources.h"

namespace punb::vectorize {

struct DocumentRef {
  std::size_t offset = 0;  // in Batch::text
  std::size_t length = 0;
  std::uint32_t input = 0;  // index into the input files
  std::uint64_t line = 0;   // 1.. in a file of one document per line; 0 for a whole file
};

// Consecutive documents, their text back to back.
struct Batch {
  std::uint64_t sequence = 0;
  std::string text;
  std::vector<DocumentRef> documents;

  std::string_view text_of(const DocumentRef& d) const {
    return std::string_view(text).substr(d.offset, d.length);
  }
};

// Reads the documents of input files [first, count) in order, a batch at a time; at most one file
// is open. A file with a NUL byte in its first 8 kB is not text: it is skipped and listed.
// Not thread-safe: the passes take turns under a lock.
class BatchReader {
 public:
  BatchReader(const std::vector<InputFile>& inputs, std::size_t first, std::size_t count);
  ~BatchReader();
  BatchReader(const BatchReader&) = delete;
  BatchReader& operator=(const BatchReader&) = delete;

  // Replaces the batch's documents with the next ones: at least one, at most `max_documents`,
  // and no more once `target_bytes` of text are in; false when no document is left.
  bool next(Batch& batch, std::size_t target_bytes, std::size_t max_documents);

  std::uint64_t documents() const { return documents_; }
  std::uint64_t bytes() const { return bytes_; }  // read from the files so far
  const std::vector<std::uint32_t>& skipped() const { return skipped_; }

 private:
  bool open_next();
  void close_current();
  void read_more();
  bool append_line(std::string& text);
  void append_rest(std::string& text);

  const std::vector<InputFile>& inputs_;
  std::size_t count_;
  std::size_t next_input_ = 0;
  std::uint32_t current_ = 0;
  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  std::uint64_t line_ = 0;
  std::uint64_t documents_ = 0;
  std::uint64_t bytes_ = 0;
  std::vector<std::uint32_t> skipped_;
};

}  // namespace punb::vectorize
