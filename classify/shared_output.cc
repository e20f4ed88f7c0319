#include "classify/shared_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "classify/lines.h"
#include "docfile/together.h"

namespace punb::classify {

void LineSink::take(std::string_view text) {
  if (at_once_) {
    write_(text);
    return;
  }
  while (!text.empty()) {
    // The held lines stay below kFlushBytes: the first line end that brings them to it ends a run.
    const std::size_t need = held_.size() < kFlushBytes ? kFlushBytes - held_.size() : 1;
    const std::size_t end = text.size() < need ? std::string_view::npos : text.find('\n', need - 1);
    if (end == std::string_view::npos) {
      held_.append(text);
      return;
    }
    held_.append(text.substr(0, end + 1));
    write_(held_);
    held_.clear();
    text.remove_prefix(end + 1);
  }
}

void LineSink::finish() {
  if (!held_.empty()) write_(held_);
  held_.clear();
}

namespace {

// Writes are gathered to this size before they go to the file.
constexpr std::size_t kSpillBuffer = std::size_t{1} << 18;

}  // namespace

Spill::Spill() {
  const char* dir = std::getenv("TMPDIR");
  path_ = std::string(dir && *dir ? dir : "/tmp") + "/punb-classify-XXXXXX";
  fd_ = mkostemp(path_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    fail(errno);
    return;
  }
  // Unnamed from the start: nothing is left behind, however the process ends.
  unlink(path_.c_str());
  buffer_.reserve(kSpillBuffer);
}

Spill::~Spill() {
  if (fd_ >= 0) close(fd_);
}

void Spill::fail(int err) {
  if (!failure_) failure_.emplace(kCannotWrite, path_ + ": " + std::strerror(err));
  buffer_ = std::string();
}

void Spill::write(std::string_view bytes) {
  if (buffer_.size() + bytes.size() > kSpillBuffer) settle();
  size_ += bytes.size();
  if (bytes.size() <= kSpillBuffer) {
    if (!failure_) buffer_.append(bytes);
  } else {
    put(size_ - bytes.size(), bytes);  // large enough to go at once
  }
}

void Spill::settle() {
  put(size_ - buffer_.size(), buffer_);
  buffer_.clear();
}

void Spill::put(std::uint64_t at, std::string_view bytes) {
  while (!bytes.empty() && !failure_) {
    const ssize_t n = pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fail(n < 0 ? errno : ENOSPC);
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    at += static_cast<std::uint64_t>(n);
  }
}

std::string_view Spill::read(std::uint64_t at, std::size_t n, std::string& into) {
  settle();
  if (failure_ || at >= size_) return {};
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - at));
  into.resize(n);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = pread(fd_, into.data() + done, n - done, static_cast<off_t>(at + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      fail(got < 0 ? errno : EIO);
      return {};
    }
    done += static_cast<std::size_t>(got);
  }
  return into;
}

void Spill::clear() {
  buffer_.clear();
  size_ = 0;
  // The file's blocks go back at once; a file that cannot be cut is written over.
  if (!failure_ && fd_ >= 0) (void)ftruncate(fd_, 0);
}

const char* Spill::Reader::take(std::size_t n) {
  if (held_.size() - used_ < n) {
    held_.erase(0, used_);
    used_ = 0;
    while (held_.size() < n) {
      const std::string_view more = spill_.read(read_, chunk_, piece_);
      if (more.empty()) return nullptr;
      held_.append(more);
      read_ += more.size();
    }
  }
  const char* at = held_.data() + used_;
  used_ += n;
  return at;
}

std::vector<std::string> exchange_in_rounds(Peers& peers, std::vector<std::string> to_each,
                                            std::size_t round_bytes) {
  const auto processes = static_cast<std::size_t>(peers.size());
  const std::size_t piece = std::max<std::size_t>(1, round_bytes / processes);
  std::vector<std::size_t> sent(processes);
  std::vector<std::size_t> size(processes);
  for (std::size_t r = 0; r < processes; ++r) size[r] = to_each[r].size();
  std::vector<std::string> received(processes);
  for (;;) {
    std::int64_t left = 0;
    for (std::size_t r = 0; r < processes; ++r)
      left += static_cast<std::int64_t>(size[r] - sent[r]);
    if (peers.max(left) == 0) break;
    std::vector<std::string> round(processes);
    for (std::size_t r = 0; r < processes; ++r) {
      const std::size_t n = std::min(piece, size[r] - sent[r]);
      // A text that goes whole is not copied.
      if (n == 0) continue;
      if (sent[r] == 0 && n == size[r]) {
        round[r] = std::move(to_each[r]);
      } else {
        round[r] = to_each[r].substr(sent[r], n);
      }
      sent[r] += n;
    }
    std::vector<std::string> got = peers.exchange(std::move(round));
    for (std::size_t r = 0; r < processes; ++r) {
      if (received[r].empty()) {
        received[r] = std::move(got[r]);
      } else {
        received[r] += got[r];
      }
    }
  }
  return received;
}

std::vector<std::int64_t> counts_of_all(Peers& peers, std::int64_t mine) {
  // Exact as doubles: no count comes near 2^53.
  const double value = static_cast<double>(mine);
  const std::vector<double> all = peers.gather({&value, 1});
  return {all.begin(), all.end()};
}

namespace {

std::string boot_id() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  return id;
}

// How another process of the same machine reaches the unnamed file `fd` of this one.
std::string unnamed_reach(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return {};
  std::ostringstream reach;
  reach << boot_id() << ' ' << getpid() << ' ' << fd << ' ' << st.st_dev << ' ' << st.st_ino;
  return reach.str();
}

// The file `reach` describes, open for writing, or -1 where it cannot be reached (another
// machine, or another view of the processes).
int open_unnamed(const std::string& reach) {
  std::istringstream in(reach);
  std::string id;
  long pid = 0;
  int fd = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  if (!(in >> id >> pid >> fd >> dev >> ino) || id.empty() || id != boot_id()) return -1;
  // Never waits: what is there may be another process's pipe.
  const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
  const int mine = ::open(link.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st;
  if (mine >= 0 && fstat(mine, &st) == 0 && st.st_dev == dev && st.st_ino == ino &&
      fcntl(mine, F_SETFL, 0) == 0) {
    return mine;
  }
  if (mine >= 0) ::close(mine);
  return -1;
}

// Ends the run in every process when one has no descriptor, with the first one's error.
void refuse_unopened(Peers& peers, int fd, int err, const std::string& path) {
  const std::int64_t failed = peers.min(fd < 0 ? peers.rank() : INT64_MAX);
  if (failed == INT64_MAX) return;
  std::string why = std::strerror(err);
  peers.share(why, static_cast<int>(failed));
  if (fd >= 0) ::close(fd);
  throw Fatal(kCannotWrite, path + ": " + why);
}

}  // namespace

InOrderOutput::InOrderOutput(Peers& peers, const std::optional<std::string>& path, bool at_once,
                             std::function<void(std::string_view)> print, std::size_t chunk)
    : peers_(peers), chunk_(chunk) {
  if (!path) {
    if (peers.leads()) sink_.emplace(std::move(print), at_once);
    return;
  }
  // The leading process makes the file that stands in for the named one, all write their parts
  // into it, and it takes its name only once all have written theirs. The stand-in has no name
  // while every process reaches it through the leading one's descriptor (one machine); otherwise
  // it gets a temporary one, which a signal that ends the leading process removes.
  std::string reach;
  on_leader(peers, [&] {
    staged_.emplace(kCannotWrite);
    OutFile& file = staged_->add(*path);
    if (staged_->in_place(0)) {
      in_place_ = &file;
    } else if (staged_->temporary(0).empty()) {
      reach = "unnamed " + unnamed_reach(staged_->descriptor(0));
    } else {
      reach = "named " + staged_->name_temporarily(0);
    }
  });
  peers.share(reach, 0);
  if (reach.empty()) return;
  int fd = -1;
  int err = 0;
  auto open_named = [&](const std::string& name) {
    fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
    err = errno;
  };
  if (peers.leads()) {
    fd = fcntl(staged_->descriptor(0), F_DUPFD_CLOEXEC, 0);
    err = errno;
  } else if (reach.starts_with("unnamed ")) {
    fd = open_unnamed(reach.substr(8));
  } else {
    open_named(reach.substr(6));
  }
  if (reach.starts_with("unnamed ") && peers.min(fd >= 0 ? 1 : 0) == 0) {
    std::string name;
    on_leader(peers, [&] { name = staged_->name_temporarily(0); });
    peers.share(name, 0);
    if (fd < 0) open_named(name);
  }
  refuse_unopened(peers, fd, err, *path);
  shared_.emplace(peers, fd, *path, kCannotWrite);
}

void InOrderOutput::deliver(std::string_view text) {
  if (!in_place_) {
    sink_->take(text);
    return;
  }
  // A failed write ends the run at the end, in every process: the others are still handing in.
  if (failed_) return;
  try {
    in_place_->write(text);
  } catch (const Fatal& f) {
    failed_ = f;
  }
}

void InOrderOutput::write(std::string_view mine) {
  write(mine.size(), [&](std::uint64_t at, std::size_t n) {
    return mine.substr(static_cast<std::size_t>(at), n);
  });
}

void InOrderOutput::write(Spill& mine) {
  std::string chunk;
  write(mine.size(), [&](std::uint64_t at, std::size_t n) { return mine.read(at, n, chunk); });
}

void InOrderOutput::write(std::uint64_t size, const Reader& read) {
  if (shared_) {
    const std::int64_t offset = shared_->take_room(static_cast<std::int64_t>(size));
    for (std::uint64_t at = 0; at < size; at += chunk_)
      shared_->write_at(offset + static_cast<std::int64_t>(at), read(at, chunk_));
    return;
  }
  const std::vector<std::int64_t> sizes = counts_of_all(peers_, static_cast<std::int64_t>(size));
  if (peers_.leads())
    for (std::uint64_t at = 0; at < size; at += chunk_) deliver(read(at, chunk_));
  const auto chunk = static_cast<std::int64_t>(chunk_);
  for (int from = 1; from < peers_.size(); ++from) {
    for (std::int64_t at = 0; at < sizes[static_cast<std::size_t>(from)]; at += chunk) {
      std::vector<std::string> to_each(static_cast<std::size_t>(peers_.size()));
      if (peers_.rank() == from) to_each[0] = read(static_cast<std::uint64_t>(at), chunk_);
      const std::vector<std::string> got = peers_.exchange(std::move(to_each));
      if (peers_.leads()) deliver(got[static_cast<std::size_t>(from)]);
    }
  }
}

void InOrderOutput::finish() {
  if (shared_) shared_->close();
  on_leader(peers_, [&] {
    if (failed_) throw *failed_;
    if (sink_) sink_->finish();
    if (staged_) staged_->commit();
  });
}

}  // namespace punb::classify
