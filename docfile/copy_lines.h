#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/pieces.h"
#include "docfile/workpool.h"

namespace punb {

// Copies the first `lines` lines of `in` byte for byte; `choose(i)` names the file that takes
// line i. The counts come from an earlier read of the same file, so a shorter file means it
// was changed during the run. The file is read in windows of pieces: while one task writes the
// lines of a window, in order, another reads the next, so that with two threads or more the
// reading and the writing overlap. A write failure comes before a read failure of later text,
// as in a front-to-back copy.
template <class Choose>
void copy_document_lines(PieceReader& in, std::int64_t lines, WorkerPool& pool, Choose&& choose) {
  // Two tasks at a time whatever the threads: windows of a few pieces are enough.
  constexpr std::size_t window = 4;
  constexpr std::size_t bytes = kPieceBytes;
  std::int64_t copied = 0;
  auto write_window = [&](int bank, std::size_t n) {
    for (std::size_t k = 0; k < n && copied < lines; ++k) {
      const Piece piece = in.piece(bank, k);
      const char* p = piece.data;
      const char* const end = p + piece.size;
      while (p != end && copied < lines) {
        const auto* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* next = newline ? newline + 1 : end;  // the last line may have no newline
        choose(copied).write({p, static_cast<std::size_t>(next - p)});
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

}  // namespace punb
