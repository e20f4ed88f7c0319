#include "classify/sources.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "classify/shared_output.h"
#include "docfile/fatal.h"
#include "peers/packing.h"

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

namespace punb::classify {

namespace {

constexpr std::int64_t kNone = INT64_MAX;

// Where the share of process `rank` of `parts` of a file of `size` bytes starts or ends.
std::int64_t share_point(std::int64_t size, int rank, int parts) {
  return static_cast<std::int64_t>(static_cast<__int128>(size) * rank / parts);
}

}  // namespace

SharedSources::SharedSources(const std::vector<std::string>& paths, Peers& peers)
    : peers_(peers), paths_(paths) {
  const int rank = peers.rank();
  const int parts = peers.size();
  std::int64_t first_bad = kNone;
  std::optional<Fatal> mine;
  // Of this process's share of each file read: its lines, and where it begins.
  std::vector<double> counts;
  for (std::size_t f = 0; f < paths.size() && first_bad == kNone; ++f) {
    try {
      InputFile file(paths[f], kBadSources);
      const std::int64_t size = file.size();
      if (size < 0) {
        DocumentReader whole(paths[f], kBadSources);  // a directory fails here
        throw Fatal(kBadSources, paths[f] +
                                     ": not a regular file, which the processes of a run could "
                                     "share out");
      }
      const std::int64_t begin = file.line_start_from(share_point(size, rank, parts));
      const std::int64_t end = file.line_start_from(share_point(size, rank + 1, parts));
      auto reader = std::make_unique<DocumentReader>(paths[f], kBadSources, begin, end);
      std::uint64_t lines = 0;
      for (Line line; reader->next(line);) ++lines;
      reader->rewind();
      readers_.push_back(std::move(reader));
      sizes_.push_back(size);
      counts.push_back(static_cast<double>(lines));  // exact: below 2^53
      counts.push_back(static_cast<double>(begin));
    } catch (const Fatal& f) {
      first_bad = static_cast<std::int64_t>(readers_.size());
      mine = f;
    }
  }
  // The first file some process could not read is unreadable for all, as the files are read in
  // turn.
  const std::int64_t bad = peers.min(first_bad);
  std::size_t usable_files = paths.size();
  if (bad != kNone) {
    const int owner = static_cast<int>(peers.min(first_bad == bad ? rank : kNone));
    std::string message = mine ? mine->message() : std::string();
    std::string detail = mine ? mine->detail() : std::string();
    peers.share(message, owner);
    peers.share(detail, owner);
    unreadable_.emplace(message, detail);
    usable_files = static_cast<std::size_t>(bad);
  }
  readers_.resize(usable_files);
  sizes_.resize(usable_files);
  counts.resize(2 * usable_files);
  read_.assign(usable_files, 0);
  const std::vector<double> all = peers.gather(counts);
  for (std::size_t f = 0; f < usable_files; ++f) {
    for (std::size_t q = 0; q < static_cast<std::size_t>(parts); ++q) {
      const std::size_t at = 2 * (q * usable_files + f);
      starts_.push_back(usable_);
      begins_.push_back(static_cast<std::int64_t>(all[at + 1]));
      usable_ += static_cast<std::uint64_t>(all[at]);
    }
  }
  starts_.push_back(usable_);
}

std::size_t SharedSources::segment_of(std::uint64_t n) const {
  // Among segments that start at the same line, all but the last are empty.
  return static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end() - 1, n) -
                                  starts_.begin() - 1);
}

std::string SharedSources::where(std::uint64_t n) const {
  const auto parts = static_cast<std::size_t>(peers_.size());
  const std::size_t f = segment_of(n) / parts;
  return paths_[f] + ":" + std::to_string(n - starts_[f * parts] + 1);
}

std::string_view SharedSources::line_at(std::size_t segment, std::uint64_t n) {
  const std::size_t f = segment / static_cast<std::size_t>(peers_.size());
  const std::uint64_t wanted = n - starts_[segment];  // in this process's share of the file
  DocumentReader& reader = *readers_[f];
  if (wanted < read_[f]) {
    reader.rewind();
    read_[f] = 0;
  }
  Line line{};
  while (read_[f] <= wanted) {
    reader.next(line);
    ++read_[f];
  }
  return source_text(line.data, line.size);
}

std::string_view SharedSources::Cursor::at(std::uint64_t n) {
  const auto parts = static_cast<std::size_t>(sources_.peers_.size());
  const std::size_t segment = sources_.segment_of(n);
  // From the start of the share that holds it, unless the lines before it are few.
  if (!reader_ || sources_.starts_[segment] > next_) {
    file_ = segment / parts;
    reader_ = std::make_unique<DocumentReader>(sources_.paths_[file_], kBadSources,
                                               sources_.begins_[segment], sources_.sizes_[file_]);
    next_ = sources_.starts_[segment];
  }
  while (next_ <= n) {
    if (reader_->next(line_)) {
      ++next_;
      continue;
    }
    ++file_;  // no line is left in this file: the next one holds line n
    reader_ = std::make_unique<DocumentReader>(sources_.paths_[file_], kBadSources, 0,
                                               sources_.sizes_[file_]);
  }
  return source_text(line_.data, line_.size);
}

std::vector<std::string> SharedSources::fetch(const std::vector<std::uint64_t>& documents) {
  const auto parts = static_cast<std::size_t>(peers_.size());
  // Each process asks the holder of each line for runs of consecutive lines.
  std::vector<std::string> asks(parts);
  std::vector<std::size_t> holder(documents.size());
  for (std::size_t i = 0; i < documents.size();) {
    const std::size_t segment = segment_of(documents[i]);
    const std::uint64_t end = starts_[segment + 1];
    std::size_t j = i + 1;
    while (j < documents.size() && documents[j] == documents[j - 1] + 1 && documents[j] < end) ++j;
    for (std::size_t k = i; k < j; ++k) holder[k] = segment % parts;
    put(asks[segment % parts], documents[i]);
    put(asks[segment % parts], static_cast<std::uint64_t>(j - i));
    i = j;
  }
  const std::vector<std::string> asked = exchange_in_rounds(peers_, std::move(asks));

  // The runs asked of this process, served in line order, so that its shares are read forwards.
  struct Run {
    std::uint64_t first;
    std::uint64_t count;
    std::size_t from;
  };
  std::vector<Run> runs;
  for (std::size_t from = 0; from < parts; ++from) {
    const char* at = asked[from].data();
    const char* const end = at + asked[from].size();
    while (at < end) {
      const auto first = get<std::uint64_t>(at);
      runs.push_back({first, get<std::uint64_t>(at), from});
    }
  }
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
  std::vector<std::string> answers(parts);
  for (const Run& run : runs) {
    const std::size_t segment = segment_of(run.first);
    for (std::uint64_t n = run.first; n < run.first + run.count; ++n)
      answers[run.from].append(line_at(segment, n)).push_back('\n');
  }
  const std::vector<std::string> got = exchange_in_rounds(peers_, std::move(answers));

  std::vector<std::string> sources;
  sources.reserve(documents.size());
  std::vector<std::size_t> at(parts);
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const std::string& from = got[holder[i]];
    std::size_t& begin = at[holder[i]];
    const std::size_t end = from.find('\n', begin);
    sources.emplace_back(from, begin, end - begin);
    begin = end + 1;
  }
  return sources;
}

}  // namespace punb::classify
