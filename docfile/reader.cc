#include "docfile/reader.h"

#include <cstring>
#include <string>

#include "docfile/fatal.h"
#include "docfile/pieces.h"

namespace punb {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 18;

}  // namespace

DocumentReader::DocumentReader(std::string path, const char* fail_message)
    : file_(std::move(path), fail_message), buffer_(kChunk + kLineSlack) {
  fill();  // a directory or an unreadable file fails here, as if it could not be opened
}

DocumentReader::DocumentReader(std::string path, const char* fail_message, std::int64_t begin,
                               std::int64_t end)
    : file_(std::move(path), fail_message), buffer_(kChunk + kLineSlack) {
  file_.keep_part(begin, end);
  fill();
}

void DocumentReader::rewind() {
  file_.rewind();
  begin_ = end_ = scanned_ = 0;
  eof_ = false;
  line_number_ = 0;
  fill();
}

bool DocumentReader::fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  std::size_t capacity = buffer_.size() - kLineSlack;
  if (end_ == capacity) {  // a line longer than the buffer: make room for all of it
    capacity *= 2;
    buffer_.grow(capacity + kLineSlack, end_);
  }
  const std::size_t got = file_.read(buffer_.data() + end_, capacity - end_);
  if (got == 0) {
    eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool DocumentReader::next(Line& line) {
  for (;;) {
    char* start = buffer_.data() + begin_;
    std::size_t available = end_ - begin_;
    auto* newline = static_cast<char*>(std::memchr(start + scanned_, '\n', available - scanned_));
    if (newline) {
      line = {start, static_cast<std::size_t>(newline + 1 - start)};
      begin_ += line.size;
      scanned_ = 0;
      ++line_number_;
      return true;
    }
    scanned_ = available;
    if (!fill()) {
      if (begin_ == end_) return false;
      line = {buffer_.data() + begin_, end_ - begin_};  // the last line, without a newline
      begin_ = end_;
      scanned_ = 0;
      ++line_number_;
      return true;
    }
  }
}

void DocumentReader::fail_at_line(const std::string& what) const {
  throw Fatal(file_.fail_message(),
              file_.path() + ":" + std::to_string(line_number_) + ": " + what);
}

void DocumentReader::fail_at_line(const ParsedLine& parsed) const {
  punb::fail_at_line(file_.path(), line_number_, file_.fail_message(), parsed);
}

void DocumentParser::warn_tab() {
  warned_tab_ = true;
  warn_dropped_tab(reader_.path(), reader_.line_number());
}

}  // namespace punb
