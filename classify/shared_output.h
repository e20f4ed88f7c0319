#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "docfile/fatal.h"
#include "docfile/shared_out.h"
#include "docfile/staged.h"
#include "peers/peers.h"

namespace punb::classify {

// Standard output as one process writes the lines: at once when they go out in blocks as they
// are scored, and otherwise in runs that end at the first line end past kFlushBytes, the rest at
// the end. A run that ends on a fault has then printed what one process would have.
class LineSink {
 public:
  LineSink(std::function<void(std::string_view)> write, bool at_once)
      : write_(std::move(write)), at_once_(at_once) {}
  void take(std::string_view text);
  void finish();

 private:
  std::function<void(std::string_view)> write_;
  bool at_once_;
  std::string held_;
};

// What a process reads back of its held lines at a time, to write or to hand on.
inline constexpr std::size_t kSpillChunk = std::size_t{1} << 20;

// Bytes held in an unnamed temporary file (in TMPDIR, or /tmp) until they are read back: a
// process's lines that wait for those of the processes before it, so that its memory does not
// grow with its share. A file that cannot be made or written is kept as failure(), for the
// processes to agree on: no write or read ends the run on its own.
class Spill {
 public:
  Spill();
  ~Spill();
  Spill(const Spill&) = delete;
  Spill& operator=(const Spill&) = delete;

  void write(std::string_view bytes);
  // Puts what is buffered into the file, so that failure() tells of every write so far.
  void settle();
  std::uint64_t size() const { return size_; }
  // Bytes [at, at + n) of what was written, at most to the end, in `into`'s memory.
  std::string_view read(std::uint64_t at, std::size_t n, std::string& into);
  // Empties it for what comes next.
  void clear();

  // What was written, read back in turn, `chunk` bytes from the file at a time.
  class Reader {
   public:
    explicit Reader(Spill& spill, std::size_t chunk = kSpillChunk) : spill_(spill), chunk_(chunk) {}
    // The next `n` bytes, valid until the next call; null when fewer are left.
    const char* take(std::size_t n);

   private:
    Spill& spill_;
    std::size_t chunk_;
    std::uint64_t read_ = 0;  // of the spill
    std::string piece_;
    std::string held_;
    std::size_t used_ = 0;  // of held_
  };
  const std::optional<Fatal>& failure() const { return failure_; }

 private:
  void put(std::uint64_t at, std::string_view bytes);
  void fail(int err);

  std::string path_;  // in messages: the file has no name once made
  int fd_ = -1;
  std::string buffer_;      // written, not yet in the file
  std::uint64_t size_ = 0;  // all that was written
  std::optional<Fatal> failure_;
};

// What several processes exchange at a time: every exchange stays far below what one MPI message
// holds, and the memory it takes stays small beside a process's share.
inline constexpr std::size_t kRoundBytes = std::size_t{64} << 20;

// Hands to_each[r] to process r, in rounds of at most `round_bytes` from each process; returns
// what each process handed in for this one, in process order. Collective.
std::vector<std::string> exchange_in_rounds(Peers& peers, std::vector<std::string> to_each,
                                            std::size_t round_bytes = kRoundBytes);

// Every process's count, in process order. Collective.
std::vector<std::int64_t> counts_of_all(Peers& peers, std::int64_t mine);

// Where the lines of a run on several processes go, in input order, as one process would write
// them: to the -o file, which each process writes its part of at its place (under a temporary
// name until it is complete), or to the leading process's standard output (or a file written in
// place, such as a device), which the others hand their lines to in turn, a chunk at a time.
class InOrderOutput {
 public:
  // Collective; a file that cannot be created ends the run in every process. `at_once`: the
  // lines go to standard output in blocks, as scored.
  InOrderOutput(Peers& peers, const std::optional<std::string>& path, bool at_once,
                std::function<void(std::string_view)> print, std::size_t chunk = kSpillChunk);

  // Collective: every process's lines, in process order, after those written so far.
  void write(std::string_view mine);
  void write(Spill& mine);
  // Collective: writes what is held, checks every write and gives the file its name.
  void finish();

 private:
  void deliver(std::string_view text);
  // `size` bytes of this process's, read a chunk at a time.
  using Reader = std::function<std::string_view(std::uint64_t at, std::size_t n)>;
  void write(std::uint64_t size, const Reader& read);

  Peers& peers_;
  std::size_t chunk_;
  std::optional<StagedFiles> staged_;    // the leading process's
  OutFile* in_place_ = nullptr;          // the leading process's file written in place
  std::optional<SharedOutFile> shared_;  // the staged file, written at offsets
  std::optional<LineSink> sink_;         // the leading process's standard output
  std::optional<Fatal> failed_;          // the first failed write to the file written in place
};

}  // namespace punb::classify
