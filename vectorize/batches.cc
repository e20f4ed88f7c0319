#include "vectorize/batches.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "docfile/fatal.h"

namespace punb::vectorize {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 16;
constexpr std::size_t kTextProbe = 8192;  // a NUL byte in this much of a file: not text
// ICU's break iterator counts in 32-bit offsets.
constexpr std::size_t kMaxDocument = std::numeric_limits<std::int32_t>::max();

constexpr const char* kUnreadable = "can not read input";

}  // namespace

BatchReader::BatchReader(const std::vector<InputFile>& inputs, std::size_t first, std::size_t count,
                         const InputShare* share)
    : inputs_(inputs),
      count_(count),
      next_input_(first),
      buffer_(std::make_unique_for_overwrite<char[]>(kBufferSize)),
      share_(share ? *share : InputShare{0, count, 0, -1}) {
  if (share) {
    next_input_ = std::max(first, share->first);
    count_ = std::min(count, share->last);
  }
}

BatchReader::~BatchReader() { close_current(); }

void BatchReader::close_current() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void BatchReader::read_more() {
  if (begin_ == end_) begin_ = end_ = 0;
  std::size_t room = kBufferSize - end_;
  if (left_ >= 0 && static_cast<std::uint64_t>(left_) < room)
    room = static_cast<std::size_t>(left_);
  ssize_t n = 0;
  if (room > 0) {
    do n = read(fd_, buffer_.get() + end_, room);
    while (n < 0 && errno == EINTR);
  }
  if (n < 0) throw Fatal(kUnreadable, inputs_[current_].path + ": " + std::strerror(errno));
  if (n == 0) eof_ = true;
  if (left_ >= 0) left_ -= n;
  end_ += static_cast<std::size_t>(n);
  bytes_ += static_cast<std::uint64_t>(n);
}

bool BatchReader::open_next() {
  while (next_input_ < count_) {
    current_ = static_cast<std::uint32_t>(next_input_++);
    const std::string& path = inputs_[current_].path;
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw Fatal(kUnreadable, path + ": " + std::strerror(errno));
    begin_ = end_ = 0;
    eof_ = false;
    left_ = -1;
    line_ = 0;
    const std::uint64_t begin = current_ == share_.first ? share_.begin : 0;
    const std::int64_t end = current_ + 1 == share_.last ? share_.end : -1;
    bool text;
    if (begin == 0 && end < 0) {
      while (end_ < kTextProbe && !eof_) read_more();
      text = std::memchr(buffer_.get(), '\0', std::min(end_, kTextProbe)) == nullptr;
    } else {
      text = is_text_from(begin, end);
    }
    if (text) return true;
    skipped_.push_back(current_);
    close_current();
  }
  return false;
}

// A part of the open file: its first bytes tell whether it is text, wherever the part starts;
// the reading then starts at `begin` and stops at `end`.
bool BatchReader::is_text_from(std::uint64_t begin, std::int64_t end) {
  std::size_t probed = 0;
  while (probed < kTextProbe) {
    const ssize_t n =
        pread(fd_, buffer_.get() + probed, kTextProbe - probed, static_cast<off_t>(probed));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Fatal(kUnreadable, inputs_[current_].path + ": " + std::strerror(errno));
    if (n == 0) break;
    probed += static_cast<std::size_t>(n);
  }
  if (std::memchr(buffer_.get(), '\0', probed) != nullptr) return false;
  if (lseek(fd_, static_cast<off_t>(begin), SEEK_SET) < 0)
    throw Fatal(kUnreadable, inputs_[current_].path + ": " + std::strerror(errno));
  left_ = end < 0 ? -1 : end - static_cast<std::int64_t>(begin);
  return true;
}

bool BatchReader::append_line(std::string& text) {
  bool any = false;
  for (;;) {
    if (begin_ < end_) {
      any = true;
      const char* from = buffer_.get() + begin_;
      const auto* newline = static_cast<const char*>(std::memchr(from, '\n', end_ - begin_));
      if (newline) {
        text.append(from, newline);
        begin_ = static_cast<std::size_t>(newline - buffer_.get()) + 1;
        return true;
      }
      text.append(from, end_ - begin_);
      begin_ = end_;
    }
    if (eof_) return any;
    read_more();
  }
}

void BatchReader::append_rest(std::string& text) {
  for (;;) {
    text.append(buffer_.get() + begin_, end_ - begin_);
    begin_ = end_;
    if (eof_) return;
    read_more();
  }
}

bool BatchReader::next(Batch& batch, std::size_t target_bytes, std::size_t max_documents) {
  batch.text.clear();
  batch.documents.clear();
  while (batch.text.size() < target_bytes && batch.documents.size() < max_documents) {
    if (fd_ < 0 && !open_next()) break;
    const InputFile& input = inputs_[current_];
    const std::size_t start = batch.text.size();
    if (input.whole_document) {
      append_rest(batch.text);
      close_current();
    } else if (!append_line(batch.text)) {
      close_current();
      continue;
    } else {
      ++line_;
    }
    const std::size_t length = batch.text.size() - start;
    if (length > kMaxDocument) {
      throw Fatal(kUnreadable, input.path +
                                   (input.whole_document ? "" : ":" + std::to_string(line_)) +
                                   ": a document over 2 GiB");
    }
    batch.documents.push_back({start, length, current_, input.whole_document ? 0 : line_});
    ++documents_;
  }
  return !batch.documents.empty();
}

bool TextBatches::next(Batch& batch, std::size_t target_bytes, std::size_t max_documents) {
  batch.text.clear();
  batch.documents.clear();
  std::size_t bytes = 0;
  while (next_ < texts_.size() && bytes < target_bytes && batch.documents.size() < max_documents) {
    const std::string_view text = texts_[next_++];
    if (text.size() > kMaxDocument)
      throw Fatal(kUnreadable, "text " + std::to_string(next_ - 1) + ": a document over 2 GiB");
    batch.documents.push_back({0, text.size(), 0, next_, text.data()});
    bytes += text.size();
    ++documents_;
    bytes_ += text.size();
  }
  return !batch.documents.empty();
}

std::unique_ptr<BatchSource> Corpus::open(std::size_t first, std::size_t count) const {
  if (!in_memory_)
    return std::make_unique<BatchReader>(*inputs_, first, count, shared_ ? &share_ : nullptr);
  return std::make_unique<TextBatches>(first < count ? texts_ : texts_.first(0));
}

}  // namespace punb::vectorize
