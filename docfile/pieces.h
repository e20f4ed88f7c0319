#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "docfile/fatal.h"
#include "docfile/fileio.h"
#include "docfile/parse.h"
#include "docfile/workpool.h"
#include "peers/peers.h"

namespace punb {

// A run of whole lines of a document file, followed by kLineSlack writable bytes of its own, so
// that pieces can be parsed side by side.
struct Piece {
  char* data;
  std::size_t size;
};

// Which part of a file one of the processes of a run reads: the processes cut it at the line
// starts nearest to equal shares of its bytes, in process order.
struct FileShare {
  int rank = 0;
  int parts = 1;
};

// Reads a document file (or its share) front to back in windows of pieces, each piece ending at a
// line end (or at the end of the file). A failure to open or read ends the run with
// `fail_message`, as for DocumentReader; the first read happens at construction, so that an
// unreadable file fails where it is opened.
class PieceReader {
 public:
  PieceReader(std::string path, const char* fail_message, FileShare share = {});

  // Reads up to `count` pieces of about `bytes` each (a longer line makes its piece longer) into
  // one of two banks, so that one bank can be read while the other is parsed; returns how many
  // were read, 0 at the end of the file.
  std::size_t read_window(int bank, std::size_t count, std::size_t bytes);
  Piece piece(int bank, std::size_t k) { return {pieces_[bank][k].data(), sizes_[bank][k]}; }

  // Reads the file (or this process's share) again from its start.
  void rewind();

  const std::string& path() const { return file_.path(); }
  const char* fail_message() const { return file_.fail_message(); }
  std::int64_t file_size() const { return file_.size(); }
  // The file's first bytes (those of the read at opening), until the first window is read.
  std::string_view head() const { return {carry_.data(), carried_}; }

 private:
  std::size_t read_more(ByteBuffer& into, std::size_t used);
  bool read_piece(int bank, std::size_t k, std::size_t bytes);

  InputFile file_;
  ByteBuffer carry_;  // bytes read past the last piece handed out
  std::size_t carried_ = 0;
  bool eof_ = false;
  std::vector<ByteBuffer> pieces_[2];
  std::vector<std::size_t> sizes_[2];
};

// What parsing a piece found.
struct PieceOutcome {
  std::int64_t lines = 0;     // lines parsed whole and without a fault, from the first on
  std::int64_t tab_line = 0;  // 1-based in the piece: the first of them that lost text at a tab
  ParsedLine fault;           // when fault.fault != none, the line after `lines` holds it
  std::exception_ptr error;   // an exception thrown while the line after `lines` was taken
};

// Parses the lines of a piece in order: begin() before a line, sink(index, count) for each of its
// pairs, end(label) after it, or end(label, bytes) with the line's length, its line end included.
// Stops at the first faulty line, or at an exception.
template <class Begin, class Sink, class End>
PieceOutcome parse_piece(Piece piece, bool test_lines, Begin&& begin, Sink&& sink, End&& end) {
  PieceOutcome out;
  char* p = piece.data;
  char* const stop = piece.data + piece.size;
  try {
    while (p != stop) {
      auto* newline = static_cast<char*>(std::memchr(p, '\n', static_cast<std::size_t>(stop - p)));
      const std::size_t size =
          newline ? static_cast<std::size_t>(newline + 1 - p) : static_cast<std::size_t>(stop - p);
      begin();
      const ParsedLine parsed = parse_document_line(p, size, test_lines, sink);
      if (parsed.fault != LineFault::none) {
        out.fault = parsed;
        return out;
      }
      if constexpr (std::is_invocable_v<End&, std::int32_t, std::size_t>) {
        end(parsed.label, size);
      } else {
        end(parsed.label);
      }
      ++out.lines;
      if (parsed.dropped_tab && out.tab_line == 0) out.tab_line = out.lines;
      p += size;
    }
  } catch (...) {
    out.error = std::current_exception();
  }
  return out;
}

// Pieces per window and bytes per piece: a window keeps every thread busy twice over, and a small
// file still comes in several pieces, so that every thread has some.
inline std::size_t pieces_per_window(const WorkerPool& pool) {
  return pool.size() == 1 ? 1 : 2 * std::size_t{pool.size()};
}
inline constexpr std::size_t kPieceBytes = std::size_t{1} << 19;
// With several threads a piece is mostly parsed on another thread than the one that read it, a
// window later: half as large, it is still in the cache they share (14 % less work for -nb on
// 100 MB at two threads).
inline constexpr std::size_t kSharedPieceBytes = kPieceBytes / 2;
inline std::size_t piece_bytes_for(std::int64_t file_size, const WorkerPool& pool) {
  constexpr std::size_t kSmallest = 64;
  if (file_size < 0 || pool.size() == 1) return kPieceBytes;
  const std::size_t share = static_cast<std::size_t>(file_size) / (4 * std::size_t{pool.size()});
  return std::clamp(share, kSmallest, kSharedPieceBytes);
}

// The fault that ends a run for a parse fault at `line` of `path`.
Fatal line_fault(const std::string& path, std::int64_t line, const char* fail_message,
                 const ParsedLine& parsed);
// Ends the run for a parse fault at `line` of `path`.
[[noreturn]] void fail_at_line(const std::string& path, std::int64_t line, const char* fail_message,
                               const ParsedLine& parsed);
// The once-per-file warning about a tab that lost text, at `line`.
void warn_dropped_tab(const std::string& path, std::int64_t line);

// What reading a file, or a process's share of it, found.
struct ReadOutcome {
  std::int64_t lines = 0;     // lines read whole and without a fault, from the first on
  std::int64_t tab_line = 0;  // 1-based: the first of them that lost text at a tab; 0: none
  bool stopped = false;       // the line after `lines` holds a fault, or an error ended the read
  ParsedLine fault;           // what was wrong with that line, unless `error` holds it
  std::exception_ptr error;
};

// Reads a whole document file with the pool: parse(k, piece, worker) parses window slot k and
// returns its outcome; hand_over(k, outcome) then takes the slots on the calling thread in file
// order. Pieces are `piece_bytes` long, or sized to the file and the pool when that is 0. The
// reading stops after the piece that holds the first fault in file order (or an error), which
// the outcome keeps, with the first line before it that lost text at a tab, for
// agree_on_reading to report.
template <class Parse, class HandOver>
ReadOutcome parse_file(PieceReader& in, WorkerPool& pool, Parse&& parse, HandOver&& hand_over,
                       std::size_t piece_bytes = 0) {
  const std::size_t window = pieces_per_window(pool);
  if (piece_bytes == 0) piece_bytes = piece_bytes_for(in.file_size(), pool);
  std::vector<PieceOutcome> outcomes(window);
  ReadOutcome read;
  // While the threads parse one window, one of them reads the next.
  int bank = 0;
  std::size_t n = 0;
  try {
    n = in.read_window(bank, window, piece_bytes);
  } catch (...) {
    read.stopped = true;
    read.error = std::current_exception();
    return read;
  }
  while (n > 0) {
    std::size_t next = 0;
    std::exception_ptr read_error;  // comes after every line of this window
    pool.run(n + 1, [&](std::size_t i, unsigned worker) {
      if (i == 0) {
        try {
          next = in.read_window(1 - bank, window, piece_bytes);
        } catch (...) {
          read_error = std::current_exception();
        }
        return;
      }
      outcomes[i - 1] = parse(i - 1, in.piece(bank, i - 1), worker);
    });
    for (std::size_t k = 0; k < n; ++k) {
      const PieceOutcome& o = outcomes[k];
      hand_over(k, o);
      if (o.tab_line != 0 && read.tab_line == 0) read.tab_line = read.lines + o.tab_line;
      read.lines += o.lines;
      if (o.error || o.fault.fault != LineFault::none) {
        read.stopped = true;
        read.fault = o.fault;
        read.error = o.error;
        return read;
      }
    }
    if (read_error) {
      read.stopped = true;
      read.error = read_error;
      return read;
    }
    bank = 1 - bank;
    n = next;
  }
  return read;
}

// What the processes of a run found reading their shares of one file, the same in every process:
// the first fault in file order, with its line counted through the shares before it, is every
// process's. The first line before it that lost text at a tab is warned about once, by the
// leading process.
class SharedReading {
 public:
  std::int64_t before = 0;  // lines in the shares of the processes before this one
  std::int64_t lines = 0;   // this process's lines before the fault
  std::int64_t total = 0;   // all lines before the fault

  bool failed() const { return fault_.has_value() || error_; }
  // Ends the run with the agreed fault, if there is one.
  void raise() const;

 private:
  friend SharedReading agree_on_reading(const ReadOutcome&, const PieceReader&, Peers&);
  std::optional<Fatal> fault_;
  std::exception_ptr error_;  // one process: what ended the reading, as it was thrown
};

SharedReading agree_on_reading(const ReadOutcome& mine, const PieceReader& in, Peers& peers);

class DocStore;

// Reads a training file (this process's share of it) into `docs` with the pool, every pair with an
// index of 0 or more kept, a document per line; a fault ends the run. With `line_bytes`, each
// line's length is appended to it.
SharedReading read_document_store(PieceReader& in, WorkerPool& pool, Peers& peers, DocStore& docs,
                                  std::size_t piece_bytes = 0,
                                  std::vector<std::uint64_t>* line_bytes = nullptr);

}  // namespace punb
