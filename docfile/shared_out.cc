#include "docfile/shared_out.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "docfile/fatal.h"
#include "docfile/staged.h"

namespace punb {

namespace {

// The error of the first process that met one (an errno, or -1), 0 when none did.
int first_error(Peers& peers, int mine) {
  const std::int64_t failed = peers.min(mine != 0 ? peers.rank() : INT64_MAX);
  if (failed == INT64_MAX) return 0;
  std::string text = std::to_string(mine);
  peers.share(text, static_cast<int>(failed));
  return std::stoi(text);
}

// What a process hands the leading one at a time: far below what one message may hold.
constexpr std::size_t kHandOverBytes = std::size_t{16} << 20;

void put_number(std::string& into, std::int64_t n) {
  into.append(reinterpret_cast<const char*>(&n), sizeof n);
}

std::int64_t take_number(std::string_view& from) {
  std::int64_t n = 0;
  std::memcpy(&n, from.data(), sizeof n);
  from.remove_prefix(sizeof n);
  return n;
}

}  // namespace

SharedOutFile::SharedOutFile(Peers& peers, std::string path, const char* open_message,
                             const char* write_message)
    : peers_(peers),
      path_(path),
      shown_(std::move(path)),
      write_message_(write_message ? write_message : open_message) {
  if (peers_.size() == 1) {
    alone_.emplace(path_, open_message, write_message);
    return;
  }
  // Created by the leading process, so that the file is emptied once, before anyone writes.
  int err = 0;
  std::int64_t front_to_back = 0;
  if (peers_.leads()) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) err = errno;
    front_to_back = fd_ >= 0 && written_in_place(path_);
  }
  front_to_back_ = peers_.max(front_to_back) != 0;
  if (!peers_.leads() && !front_to_back_) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) err = errno;
  }
  if (const int e = first_error(peers_, err)) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw Fatal(open_message, shown_ + ": " + std::strerror(e));
  }
}

SharedOutFile::SharedOutFile(Peers& peers, int fd, std::string shown, const char* message)
    : peers_(peers), shown_(std::move(shown)), write_message_(message), fd_(fd) {}

SharedOutFile::~SharedOutFile() {
  if (fd_ >= 0) ::close(fd_);
}

void SharedOutFile::fail_write(int err) const {
  throw Fatal(write_message_, shown_ + ": " + (err > 0 ? std::strerror(err) : "write error"));
}

std::int64_t SharedOutFile::take_room(std::int64_t mine) {
  if (alone_) {
    const std::int64_t at = end_;
    end_ += mine;
    return at;
  }
  if (front_to_back_) hand_over();
  const std::int64_t at = end_ + peers_.sum_before(mine);
  end_ += peers_.sum(mine);
  return at;
}

void SharedOutFile::write_fd(std::int64_t offset, std::string_view text) {
  if (error_ != 0) {
    unwritten_ = std::min(unwritten_, offset);
    return;
  }
  while (!text.empty()) {
    const ssize_t n = front_to_back_ ? ::write(fd_, text.data(), text.size())
                                     : ::pwrite(fd_, text.data(), text.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : -1;
      unwritten_ = std::min(unwritten_, offset);
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
}

void SharedOutFile::write_in_order(std::int64_t offset, std::string text) {
  if (offset != written_) {
    waiting_.emplace(offset, std::move(text));
    return;
  }
  write_fd(offset, text);
  written_ += static_cast<std::int64_t>(text.size());
  for (auto next = waiting_.begin(); next != waiting_.end() && next->first == written_;
       next = waiting_.erase(next)) {
    write_fd(next->first, next->second);
    written_ += static_cast<std::int64_t>(next->second.size());
  }
}

void SharedOutFile::write_at(std::int64_t offset, std::string_view text) {
  if (alone_) {
    alone_->write(text);  // the room was taken in order, so the offset is where the file ends
    return;
  }
  if (!front_to_back_) {
    write_fd(offset, text);
    return;
  }
  if (peers_.leads()) {
    write_in_order(offset, std::string(text));
    return;
  }
  // Held in pieces that go whole in one hand-over.
  while (!text.empty()) {
    const std::size_t n = std::min(text.size(), kHandOverBytes);
    put_number(held_, offset);
    put_number(held_, static_cast<std::int64_t>(n));
    held_.append(text.substr(0, n));
    text.remove_prefix(n);
    offset += static_cast<std::int64_t>(n);
  }
}

void SharedOutFile::hand_over() {
  // Process by process, in order, a part of what it holds at a time; the leading process writes
  // every piece whole as soon as it has it.
  const std::vector<double> sizes = peers_.gather(std::vector<double>{double(held_.size())});
  for (int from = 1; from < peers_.size(); ++from) {
    std::string stream;
    const auto size = static_cast<std::size_t>(sizes[static_cast<std::size_t>(from)]);
    for (std::size_t at = 0; at < size; at += kHandOverBytes) {
      std::vector<std::string> to_each(static_cast<std::size_t>(peers_.size()));
      if (peers_.rank() == from) to_each[0] = held_.substr(at, kHandOverBytes);
      std::vector<std::string> got = peers_.exchange(std::move(to_each));
      if (!peers_.leads()) continue;
      stream += got[static_cast<std::size_t>(from)];
      std::string_view pieces = stream;
      while (pieces.size() >= 2 * sizeof(std::int64_t)) {
        std::string_view piece = pieces;
        const std::int64_t offset = take_number(piece);
        const auto n = static_cast<std::size_t>(take_number(piece));
        if (piece.size() < n) break;
        write_in_order(offset, std::string(piece.substr(0, n)));
        pieces = piece.substr(n);
      }
      stream.erase(0, stream.size() - pieces.size());
    }
  }
  held_.clear();
}

void SharedOutFile::append(std::string_view mine) {
  write_at(take_room(static_cast<std::int64_t>(mine.size())), mine);
}

int SharedOutFile::finish() {
  if (front_to_back_) hand_over();
  // Whatever the others wrote past the first text not written goes: no reader meets a gap.
  const std::int64_t cut = peers_.min(unwritten_);
  if (cut != INT64_MAX && peers_.leads() && !front_to_back_ && fd_ >= 0) {
    if (::ftruncate(fd_, cut) != 0 && error_ == 0) error_ = errno;
  }
  if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  return first_error(peers_, error_);
}

void SharedOutFile::close() {
  if (alone_) {
    alone_->close();
    return;
  }
  if (const int e = finish()) fail_write(e);
}

void close_together(std::span<SharedOutFile* const> files) {
  int first = -1;
  int error = 0;
  for (std::size_t k = 0; k < files.size(); ++k) {
    if (files[k]->alone_) {
      files[k]->close();  // one process: a failed file ends the run, the others keep what they got
      continue;
    }
    const int e = files[k]->finish();
    if (e != 0 && first < 0) {
      first = static_cast<int>(k);
      error = e;
    }
  }
  if (first >= 0) files[static_cast<std::size_t>(first)]->fail_write(error);
}

}  // namespace punb
