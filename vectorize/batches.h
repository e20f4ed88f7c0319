#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vectorize/sources.h"

namespace punb::vectorize {

struct DocumentRef {
  std::size_t offset = 0;  // in Batch::text
  std::size_t length = 0;
  std::uint32_t input = 0;     // index into the input files
  std::uint64_t line = 0;      // 1.. in a file of one document per line; 0 for a whole file
  const char* held = nullptr;  // the text, when it is held elsewhere (in memory) instead
};

// Consecutive documents, their text back to back (or where it is held).
struct Batch {
  std::uint64_t sequence = 0;
  std::uint64_t first_document = 0;  // the number of its first document in the reading order
  std::string text;
  std::vector<DocumentRef> documents;

  std::string_view text_of(const DocumentRef& d) const {
    if (d.held) return {d.held, d.length};
    return std::string_view(text).substr(d.offset, d.length);
  }
};

// Where a pass's documents come from, a batch at a time, in order. Not thread-safe: the passes
// take turns under a lock.
class BatchSource {
 public:
  virtual ~BatchSource() = default;

  // Replaces the batch's documents with the next ones: at least one, at most `max_documents`,
  // and no more once `target_bytes` of text are in; false when no document is left.
  virtual bool next(Batch& batch, std::size_t target_bytes, std::size_t max_documents) = 0;

  std::uint64_t documents() const { return documents_; }
  std::uint64_t bytes() const { return bytes_; }  // read so far
  // Inputs that are not text, left out.
  const std::vector<std::uint32_t>& skipped() const { return skipped_; }

 protected:
  std::uint64_t documents_ = 0;
  std::uint64_t bytes_ = 0;
  std::vector<std::uint32_t> skipped_;
};

// The part of the inputs that one of the processes of a run reads: input files [first, last),
// the first of them from byte `begin`, the last up to byte `end` (-1: to its end). A file of one
// document per line is cut at line starts only; a whole-file document is never cut.
struct InputShare {
  std::size_t first = 0;
  std::size_t last = 0;
  std::uint64_t begin = 0;
  std::int64_t end = -1;
};

// Reads the documents of input files [first, count) in order, or of the part of them in `share`;
// at most one file is open. A file with a NUL byte in its first 8 kB is not text: it is skipped
// and listed, also by a reader of a part that starts later. The lines of a part are numbered
// from 1 where the part starts.
class BatchReader final : public BatchSource {
 public:
  BatchReader(const std::vector<InputFile>& inputs, std::size_t first, std::size_t count,
              const InputShare* share = nullptr);
  ~BatchReader() override;
  BatchReader(const BatchReader&) = delete;
  BatchReader& operator=(const BatchReader&) = delete;

  bool next(Batch& batch, std::size_t target_bytes, std::size_t max_documents) override;

 private:
  bool open_next();
  bool is_text_from(std::uint64_t begin, std::int64_t end);
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
  std::int64_t left_ = -1;  // bytes the part still holds in the open file; -1: to its end
  std::uint64_t line_ = 0;
  InputShare share_;
};

// Texts held in memory, taken as the lines of input 0: text k is its line k + 1. Each is one
// document, whatever it holds; the texts are read where they are, and must outlive the source.
class TextBatches final : public BatchSource {
 public:
  explicit TextBatches(std::span<const std::string_view> texts) : texts_(texts) {}

  bool next(Batch& batch, std::size_t target_bytes, std::size_t max_documents) override;

 private:
  std::span<const std::string_view> texts_;
  std::size_t next_ = 0;
};

// The documents a pass reads: input files, or texts held in memory as one input of one document a
// line (an input without a path).
class Corpus {
 public:
  explicit Corpus(const std::vector<InputFile>& inputs) : inputs_(&inputs) {}
  // The part `share` of the inputs.
  Corpus(const std::vector<InputFile>& inputs, InputShare share)
      : inputs_(&inputs), share_(share), shared_(true) {}
  explicit Corpus(std::span<const std::string_view> texts)
      : own_{{"", SetKind::unlabeled, 0, false}}, inputs_(&own_), texts_(texts), in_memory_(true) {}
  Corpus(const Corpus&) = delete;
  Corpus& operator=(const Corpus&) = delete;

  const std::vector<InputFile>& inputs() const { return *inputs_; }
  bool in_memory() const { return in_memory_; }
  // The tool whose name starts the progress line of a pass over these inputs.
  Corpus& shown_as(const char* tool) {
    tool_ = tool;
    return *this;
  }
  const char* tool() const { return tool_; }
  // A source of the documents of inputs [first, count).
  std::unique_ptr<BatchSource> open(std::size_t first, std::size_t count) const;

 private:
  std::vector<InputFile> own_;
  const std::vector<InputFile>* inputs_;
  std::span<const std::string_view> texts_;
  bool in_memory_ = false;
  InputShare share_;
  bool shared_ = false;
  const char* tool_ = "punb-vectorize";
};

}  // namespace punb::vectorize
