#include "classify/sources.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "docfile/fatal.h"

namespace punb::classify {

namespace {

constexpr const char* kBadSources = "can not read sources";

// A source line without its line end.
std::string_view source_text(const char* data, std::size_t size) {
  std::string_view line(data, size);
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

[[noreturn]] void too_few(const std::vector<std::string>& paths, std::uint64_t lines) {
  throw Fatal(kBadSources, paths.back() + ": the --ids files hold " + std::to_string(lines) +
                               " lines, fewer than there are documents");
}

}  // namespace

bool SourcesInTurn::open_next() {
  if (next_path_ == paths_.size()) return false;
  reader_ = std::make_unique<DocumentReader>(paths_[next_path_++], kBadSources);
  return true;
}

std::string_view SourcesInTurn::next() {
  Line line;
  while (!reader_ || !reader_->next(line)) {
    if (!open_next()) too_few(paths_, taken_);
  }
  ++taken_;
  return source_text(line.data, line.size);
}

void SourcesInTurn::check_all_taken() {
  Line line;
  do {
    if (reader_ && reader_->next(line)) {
      throw Fatal(kBadSources, reader_->path() + ":" + std::to_string(reader_->line_number()) +
                                   ": more sources than the " + std::to_string(taken_) +
                                   " documents");
    }
  } while (open_next());
}

SourcesByNumber::Mapped::Mapped(Mapped&& other) noexcept
    : map_(std::exchange(other.map_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      copy_(std::move(other.copy_)) {}

SourcesByNumber::Mapped::~Mapped() {
  if (map_) munmap(const_cast<char*>(map_), size_);
}

void SourcesByNumber::Mapped::map(const char* data, std::size_t size) {
  map_ = data;
  size_ = size;
}

SourcesByNumber::SourcesByNumber(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    Mapped& m = files_.emplace_back();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
      const int err = errno;
      if (fd >= 0) close(fd);
      throw Fatal(kBadSources, path + ": " + std::strerror(err));
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
      void* p = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (p != MAP_FAILED) m.map(static_cast<const char*>(p), static_cast<std::size_t>(st.st_size));
    }
    if (m.bytes().empty()) {
      char chunk[1 << 16];
      for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
          const int err = errno;
          close(fd);
          throw Fatal(kBadSources, path + ": " + std::strerror(err));
        }
        m.copy().append(chunk, static_cast<std::size_t>(got));
      }
    }
    close(fd);
    first_.push_back(starts_.size());
    const std::string_view bytes = m.bytes();
    for (std::size_t at = 0; at < bytes.size();) {
      starts_.push_back(at);
      const std::size_t end = bytes.find('\n', at);
      at = end == std::string_view::npos ? bytes.size() : end + 1;
    }
  }
  first_.push_back(starts_.size());
}

std::string_view SourcesByNumber::at(std::uint64_t document) const {
  const auto f = static_cast<std::size_t>(std::upper_bound(first_.begin(), first_.end(), document) -
                                          first_.begin() - 1);
  const std::uint64_t begin = starts_[document];
  const std::string_view bytes = files_[f].bytes();
  const std::uint64_t end = document + 1 < first_[f + 1] ? starts_[document + 1] : bytes.size();
  return source_text(bytes.data() + begin, end - begin);
}

}  // namespace punb::classify
