#include "finalem/runlog.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "docfile/fatal.h"
#include "docfile/reader.h"

namespace punb {

namespace {

constexpr std::size_t kSeparatorWidth = 52;

bool is_separator(const Line& line) {
  return line.size >= kSeparatorWidth &&
         std::all_of(line.data, line.data + kSeparatorWidth, [](char c) { return c == '*'; });
}

bool is_empty(const Line& line) { return line.size > 0 && line.data[0] == '\n'; }

// One process: the run log read front to back, as the sections were written.
std::string copy_section_alone(SharedOutFile& log, const RunFiles& files, std::int64_t selected) {
  log.close();
  DocumentReader in(files.log, "can not write set");
  OutFile result(files.result, kCannotWriteResult);

  Line line{};
  bool more = true;
  if (selected > 0) {  // skip sections 0 .. selected - 1, each up to its closing empty line
    std::int64_t separators = 0;
    while (separators < selected && (more = in.next(line))) {
      if (is_separator(line)) ++separators;
    }
    while (more && (more = in.next(line)) && !is_empty(line)) {
    }
  }
  more = more && in.next(line);
  while (more && !is_separator(line)) {
    result.write({line.data, line.size});
    more = in.next(line);
  }
  result.close();

  more = more && in.next(line);  // the section's header line
  std::string block = "\n************<  The Final Result > *************\n";
  while (more && !is_empty(line)) {
    block.append(line.data, line.size);
    more = in.next(line);
  }
  return block;
}

// Reads `n` bytes at `offset` of an open file; false when the file holds fewer.
bool read_at(int fd, std::int64_t offset, std::size_t n, std::string& into) {
  into.resize(n);
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r =
        ::pread(fd, into.data() + got, n - got, offset + static_cast<std::int64_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

// Several processes: each copies its own lines of the section from where it wrote them, and the
// leading process reads the result block from where it wrote it.
std::string copy_section_shared(RunLog& log, const RunFiles& files, std::int64_t selected,
                                Peers& peers) {
  log.file.close();
  const int fd = ::open(files.log.c_str(), O_RDONLY | O_CLOEXEC);
  const int err = fd < 0 ? errno : 0;
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) ::close(fd);
    }
  } closer{fd};
  const std::int64_t failed = peers.min(err != 0 ? peers.rank() : INT64_MAX);
  if (failed != INT64_MAX) {
    std::string detail = files.log + ": " + std::strerror(err);
    peers.share(detail, static_cast<int>(failed));
    throw Fatal("can not write set", detail);
  }
  SharedOutFile result(peers, files.result, kCannotWriteResult);
  const RunLog::Section& section = log.sections[static_cast<std::size_t>(selected)];
  std::string mine;
  const bool whole = read_at(fd, section.mine, static_cast<std::size_t>(section.mine_bytes), mine);
  result.write_at(result.take_room(section.mine_bytes), mine);
  result.close();
  if (peers.min(whole ? 1 : 0) == 0) {
    throw Fatal("can not write set", files.log + ": shorter than the run wrote it");
  }
  std::string block = "\n************<  The Final Result > *************\n";
  if (!peers.leads()) return block;
  // The block: its separator line, then the lines up to the empty one that closes it.
  std::string text;
  constexpr std::int64_t kBlockMax = 4096;  // a block is a few hundred bytes
  read_at(fd, section.block,
          static_cast<std::size_t>(std::min(kBlockMax, log.file.size() - section.block)), text);
  std::size_t at = text.find('\n');
  while (at != std::string::npos && at + 1 < text.size() && text[at + 1] != '\n') {
    const std::size_t end = text.find('\n', at + 1);
    block.append(text, at + 1, end == std::string::npos ? std::string::npos : end - at);
    at = end;
  }
  return block;
}

}  // namespace

std::string write_final_result(RunLog& log, const RunFiles& files, std::int64_t selected,
                               Peers& peers) {
  if (peers.size() == 1) return copy_section_alone(log.file, files, selected);
  return copy_section_shared(log, files, selected, peers);
}

}  // namespace punb
