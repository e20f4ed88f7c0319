#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/pieces.h"
#include "docfile/shared_out.h"
#include "docfile/workpool.h"

namespace punb {

// Copies the first `lines` lines of `in` byte for byte: write(i, text) takes line i. The counts
// come from an earlier read of the same file, so a shorter file means it was changed during the
// run. The file is read in windows of pieces: while one task writes the lines of a window, in
// order, another reads the next, so that with two threads or more the reading and the writing
// overlap. A write failure comes before a read failure of later text, as in a front-to-back copy.
template <class Write>
void copy_document_lines(PieceReader& in, std::int64_t lines, WorkerPool& pool, Write&& write) {
  // Two tasks at a time whatever the threads: windows of a few pieces are enough, and small ones
  // keep the memory of a copy small beside the documents a process holds.
  constexpr std::size_t window = 4;
  constexpr std::size_t bytes = kPieceBytes / 4;
  std::int64_t copied = 0;
  auto write_window = [&](int bank, std::size_t n) {
    for (std::size_t k = 0; k < n && copied < lines; ++k) {
      const Piece piece = in.piece(bank, k);
      const char* p = piece.data;
      const char* const end = p + piece.size;
      while (p != end && copied < lines) {
        const auto* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* next = newline ? newline + 1 : end;  // the last line may have no newline
        write(copied, std::string_view(p, static_cast<std::size_t>(next - p)));
        ++copied;
        p = next;
      }
    }
  };
  int bank = 0;
  std::size_t n = in.read_window(bank, window, bytes);
  while (n > 0 && copied < lines) {
    std::size_t next = 0;
    pool.run(2, [&](std::size_t task, unsigned) {
      if (task == 0) {
        write_window(bank, n);
      } else {
        next = in.read_window(1 - bank, window, bytes);
      }
    });
    bank = 1 - bank;
    n = next;
  }
  if (copied < lines) {
    throw Fatal(in.fail_message(), in.path() + ":" + std::to_string(copied) +
                                       ": the file changed during the run: it held " +
                                       std::to_string(lines) + " lines when first read");
  }
}

// Copies every line of this process's share of a document file (`lines` of them, from an earlier
// read), which `in` reads, byte for byte to files[destination(i)], i the line's number in the
// share: each file gets the lines of every process, in file order. With several processes each
// one first measures what it writes to each file, so that all of them can write at once: from
// the lines' lengths when the earlier read kept them (`line_bytes`), else by reading the share.
template <class Destination>
void copy_shared_lines(PieceReader& in, std::int64_t lines, WorkerPool& pool, Peers& peers,
                       std::span<SharedOutFile* const> files, Destination&& destination,
                       const std::vector<std::uint64_t>* line_bytes = nullptr) {
  if (peers.size() == 1) {
    copy_document_lines(in, lines, pool, [&](std::int64_t i, std::string_view text) {
      files[destination(i)]->write_at(0, text);
    });
    return;
  }
  std::vector<std::int64_t> bytes(files.size(), 0);
  const bool measured = line_bytes && static_cast<std::int64_t>(line_bytes->size()) == lines;
  if (measured) {
    for (std::int64_t i = 0; i < lines; ++i) {
      bytes[destination(i)] +=
          static_cast<std::int64_t>((*line_bytes)[static_cast<std::size_t>(i)]);
    }
  } else {
    copy_document_lines(in, lines, pool, [&](std::int64_t i, std::string_view text) {
      bytes[destination(i)] += static_cast<std::int64_t>(text.size());
    });
    in.rewind();
  }
  std::vector<std::int64_t> at(files.size());
  for (std::size_t f = 0; f < files.size(); ++f) at[f] = files[f]->take_room(bytes[f]);
  // Each file's lines gathered into runs of about 256 kB before they are written.
  constexpr std::size_t kRun = std::size_t{1} << 18;
  std::vector<std::string> runs(files.size());
  auto flush = [&](std::size_t f) {
    files[f]->write_at(at[f], runs[f]);
    at[f] += static_cast<std::int64_t>(runs[f].size());
    runs[f].clear();
  };
  copy_document_lines(in, lines, pool, [&](std::int64_t i, std::string_view text) {
    if (measured && text.size() != (*line_bytes)[static_cast<std::size_t>(i)]) {
      throw Fatal(in.fail_message(), in.path() + ": the file changed during the run");
    }
    const std::size_t f = destination(i);
    runs[f].append(text);
    if (runs[f].size() >= kRun) flush(f);
  });
  for (std::size_t f = 0; f < files.size(); ++f) flush(f);
}

}  // namespace punb
