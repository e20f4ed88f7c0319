#include "docfile/shared_out.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "docfile/fatal.h"

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

}  // namespace

SharedOutFile::SharedOutFile(Peers& peers, std::string path, const char* open_message,
                             const char* write_message)
    : SharedOutFile(peers, path, path, open_message, write_message) {}

SharedOutFile::SharedOutFile(Peers& peers, std::string path, std::string shown, const char* message)
    : SharedOutFile(peers, std::move(path), std::move(shown), message, message) {}

SharedOutFile::SharedOutFile(Peers& peers, std::string path, std::string shown,
                             const char* open_message, const char* write_message)
    : peers_(peers),
      path_(std::move(path)),
      shown_(std::move(shown)),
      write_message_(write_message ? write_message : open_message) {
  if (peers_.size() == 1) {
    alone_.emplace(path_, open_message, write_message);
    return;
  }
  // Created by the leading process, so that the file is emptied once, before anyone writes.
  int err = 0;
  if (peers_.leads()) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) err = errno;
  }
  peers_.wait_for_all();
  if (!peers_.leads()) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) err = errno;
  }
  if (const int e = first_error(peers_, err)) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw Fatal(open_message, shown_ + ": " + std::strerror(e));
  }
}

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
  const std::int64_t at = end_ + peers_.sum_before(mine);
  end_ += peers_.sum(mine);
  return at;
}

void SharedOutFile::write_at(std::int64_t offset, std::string_view text) {
  if (alone_) {
    alone_->write(text);  // the room was taken in order, so the offset is where the file ends
    return;
  }
  while (!text.empty() && error_ == 0) {
    const ssize_t n = ::pwrite(fd_, text.data(), text.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : -1;
      break;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
}

void SharedOutFile::append(std::string_view mine) {
  write_at(take_room(static_cast<std::int64_t>(mine.size())), mine);
}

void SharedOutFile::close() {
  if (alone_) {
    alone_->close();
    return;
  }
  if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  if (const int e = first_error(peers_, error_)) fail_write(e);
}

}  // namespace punb
