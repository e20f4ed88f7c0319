#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "docfile/fileio.h"
#include "docfile/parse.h"

namespace punb {

struct Line {
  char* data;
  std::size_t size;  // includes the newline when the line has one
};

// Hands out the lines of a document file, each once, in file order, whole whatever their length:
// up to and including the next newline, the last one also without a newline. An empty file has
// no lines; a lone newline is an (empty) line. Every line is followed by kLineSlack writable bytes.
class DocumentReader {
 public:
  // Opens `path`; a failure to open or read ends the run with `fail_message`.
  DocumentReader(std::string path, const char* fail_message);
  // Reads bytes [begin, end) of the file only, a part that starts and ends at line starts; its
  // lines are numbered from 1 where it starts.
  DocumentReader(std::string path, const char* fail_message, std::int64_t begin, std::int64_t end);

  // Reads the file (or the part) again from its start.
  void rewind();

  bool next(Line& line);

  const std::string& path() const { return file_.path(); }
  std::int64_t line_number() const { return line_number_; }  // of the last line handed out
  std::int64_t file_size() const { return file_.size(); }    // -1 when unknown

  // Ends the run with the reader's message and "path:line: what" on standard error.
  [[noreturn]] void fail_at_line(const std::string& what) const;
  // Ends the run for a parse fault of the last line.
  [[noreturn]] void fail_at_line(const ParsedLine& parsed) const;

 private:
  bool fill();

  InputFile file_;
  ByteBuffer buffer_;
  std::size_t begin_ = 0;    // first byte not yet handed out
  std::size_t end_ = 0;      // end of the bytes read
  std::size_t scanned_ = 0;  // bytes from begin_ known to hold no newline
  bool eof_ = false;
  std::int64_t line_number_ = 0;
};

// Reads a line of a document file and parses it, reporting faults with file and line, and
// warning once per reader when tabs stood between pairs.
class DocumentParser {
 public:
  DocumentParser(std::string path, const char* fail_message, bool test_lines)
      : reader_(std::move(path), fail_message), test_lines_(test_lines) {}

  // Parses the next line into `sink`; returns false at the end of the file. For test lines,
  // `label` receives the label (1 or -1); any other label ends the run with the format error.
  template <class Sink>
  bool next(Sink&& sink, std::int32_t* label = nullptr) {
    Line line;
    if (!reader_.next(line)) return false;
    ParsedLine parsed = parse_document_line(line.data, line.size, test_lines_, sink);
    if (parsed.fault != LineFault::none) reader_.fail_at_line(parsed);
    if (parsed.dropped_tab && !warned_tab_) warn_tab();
    if (label) *label = parsed.label;
    return true;
  }

  DocumentReader& reader() { return reader_; }

 private:
  void warn_tab();

  DocumentReader reader_;
  bool test_lines_;
  bool warned_tab_ = false;
};

}  // namespace punb
