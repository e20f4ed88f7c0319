#include "docfile/pieces.h"

#include <string.h>  // memrchr

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iostream>
#include <new>

#include "docfile/docstore.h"
#include "docfile/fatal.h"
#include "docfile/progress.h"

namespace punb {

namespace {

// The first read, made at opening: small, so that a short file costs little.
constexpr std::size_t kFirstRead = std::size_t{1} << 16;

}  // namespace

PieceReader::PieceReader(std::string path, const char* fail_message, FileShare share)
    : file_(std::move(path), fail_message), carry_(kFirstRead) {
  if (share.parts > 1) {
    const std::int64_t size = file_.size();
    if (size < 0) {
      read_more(carry_, 0);  // a directory fails here
      throw Fatal(fail_message, file_.path() +
                                    ": not a regular file, which the processes of a run could "
                                    "share out");
    }
    auto at = [&](int rank) {
      return static_cast<std::int64_t>(static_cast<__int128>(size) * rank / share.parts);
    };
    const std::int64_t begin = file_.line_start_from(at(share.rank));
    const std::int64_t end = file_.line_start_from(at(share.rank + 1));
    file_.keep_part(begin, end);
  }
  carried_ = read_more(carry_, 0);  // a directory or an unreadable file fails here
}

void PieceReader::rewind() {
  file_.rewind();
  eof_ = false;
  carried_ = read_more(carry_, 0);
}

// Appends what the file still holds to `into` after its first `used` bytes, up to its size less
// the slack; returns the new count of bytes held.
std::size_t PieceReader::read_more(ByteBuffer& into, std::size_t used) {
  if (eof_) return used;
  const std::size_t capacity = into.size() - kLineSlack;
  const std::size_t got = file_.read(into.data() + used, capacity - used);
  progress_bytes(got);
  if (got < capacity - used) eof_ = true;
  return used + got;
}

// Fills piece k with the carried bytes and more, up to the last line end; returns false when
// the file has nothing left.
bool PieceReader::read_piece(int bank, std::size_t k, std::size_t bytes) {
  if (pieces_[bank].size() <= k) {
    pieces_[bank].emplace_back(bytes + kLineSlack);
    sizes_[bank].push_back(0);
  }
  ByteBuffer& buffer = pieces_[bank][k];
  if (buffer.size() < bytes + kLineSlack || buffer.size() < carried_ + kLineSlack) {
    buffer = ByteBuffer(std::max(bytes, carried_) + kLineSlack);
  }
  std::memcpy(buffer.data(), carry_.data(), carried_);
  std::size_t used = read_more(buffer, carried_);
  std::size_t searched = 0;
  for (;;) {
    // The last line end in the piece: everything after it goes on to the next piece.
    const void* last = memrchr(buffer.data() + searched, '\n', used - searched);
    if (last) {
      const std::size_t i =
          static_cast<std::size_t>(static_cast<const char*>(last) + 1 - buffer.data());
      const std::size_t rest = used - i;
      if (carry_.size() < rest + kLineSlack) carry_ = ByteBuffer(rest + kLineSlack);
      std::memcpy(carry_.data(), buffer.data() + i, rest);
      carried_ = rest;
      sizes_[bank][k] = i;
      return true;
    }
    searched = used;
    if (eof_) {  // the last line, without a line end
      carried_ = 0;
      sizes_[bank][k] = used;
      return used > 0;
    }
    // One line longer than the piece: make room for all of it.
    buffer.grow(2 * (buffer.size() - kLineSlack) + kLineSlack, used);
    used = read_more(buffer, used);
  }
}

std::size_t PieceReader::read_window(int bank, std::size_t count, std::size_t bytes) {
  std::size_t n = 0;
  while (n < count && read_piece(bank, n, bytes)) ++n;
  return n;
}

SharedReading read_document_store(PieceReader& in, WorkerPool& pool, Peers& peers, DocStore& docs,
                                  std::size_t piece_bytes, std::vector<std::uint64_t>* line_bytes) {
  docs.reserve_for_text(in.file_size());
  // One thread parses straight into the store; several into stores of their own, appended in
  // file order: the calling thread appends, between the pieces it parses, the slots parsed so
  // far, so that the copying overlaps the other threads' parsing; the hand-over appends the rest.
  const bool direct = pool.size() == 1;
  const std::size_t window = direct ? 0 : pieces_per_window(pool);
  // Each slot on cache lines of its own: threads add to their slots' ends at every pair, and
  // neighbours sharing a line would make every addition wait for the other thread's.
  struct alignas(64) Slot {
    DocStore docs;
    std::vector<std::uint64_t> line_bytes;
  };
  std::vector<Slot> slots(window);
  std::vector<std::atomic<bool>> parsed(window);  // slot k of this window is parsed
  std::vector<char> appended(window);             // slot k is in `docs` (calling thread only)
  std::vector<char> faulty(window);               // slot k ends at a fault (set before parsed[k])
  std::size_t next_to_append = 0;                 // of this window (calling thread only)
  auto append_parsed = [&] {
    // Not past a faulty slot: the run ends at its fault, reported by the hand-over, and nothing
    // after it may fail first.
    for (; next_to_append < window && parsed[next_to_append].load(std::memory_order_acquire) &&
           !faulty[next_to_append];
         ++next_to_append) {
      docs.append(slots[next_to_append].docs);
      appended[next_to_append] = 1;
    }
  };
  auto parse = [&](std::size_t k, Piece piece, unsigned worker) {
    DocStore& s = direct ? docs : slots[k].docs;
    if (!direct) s.clear();
    std::vector<std::uint64_t>* lengths =
        line_bytes ? (direct ? line_bytes : &slots[k].line_bytes) : nullptr;
    if (lengths && !direct) lengths->clear();
    const PieceOutcome outcome = parse_piece(
        piece, false, [&] { s.begin_document(); },
        [&](std::int32_t index, std::int32_t count) { s.add_pair(index, count); },
        [&](std::int32_t, std::size_t bytes) {
          s.end_document();
          if (lengths) lengths->push_back(bytes);
        });
    // The line that stopped the parse had begun a document.
    if (outcome.fault.fault != LineFault::none || outcome.error) s.discard_document();
    if (!direct) {
      faulty[k] = outcome.fault.fault != LineFault::none || outcome.error;
      parsed[k].store(true, std::memory_order_release);
      if (worker == 0) append_parsed();
    }
    return outcome;
  };
  const ReadOutcome read = parse_file(
      in, pool, parse,
      [&](std::size_t k, const PieceOutcome&) {
        if (direct) return;
        if (k == 0) next_to_append = 0;  // the window's run is over: the next one starts afresh
        if (!appended[k]) docs.append(slots[k].docs);
        if (line_bytes) {
          line_bytes->insert(line_bytes->end(), slots[k].line_bytes.begin(),
                             slots[k].line_bytes.end());
        }
        appended[k] = 0;
        parsed[k].store(false, std::memory_order_relaxed);
      },
      piece_bytes);
  SharedReading shared = agree_on_reading(read, in, peers);
  shared.raise();
  docs.settle();
  return shared;
}

Fatal line_fault(const std::string& path, std::int64_t line, const char* fail_message,
                 const ParsedLine& parsed) {
  std::string where = path + ":" + std::to_string(line) + ": ";
  std::string value = std::to_string(parsed.value);
  switch (parsed.fault) {
    case LineFault::bad_label:
      return Fatal(kTestFormatError, where + "label " + value + " is neither 1 nor -1");
    case LineFault::number_out_of_range:
      return Fatal("number out of range", where + "a number does not fit in 32 bits");
    case LineFault::index_out_of_range:
      return Fatal("feature index out of range",
                   where + "feature index " + value + " is outside 0..499999 (and is not -1)");
    case LineFault::negative_count:
      return Fatal("negative count", where + "count " + value + " is negative");
    case LineFault::nul_byte:
      return Fatal("NUL byte in input", where + "the line holds a NUL byte");
    case LineFault::none:
      break;
  }
  return Fatal(fail_message, where + "unreadable line");
}

void fail_at_line(const std::string& path, std::int64_t line, const char* fail_message,
                  const ParsedLine& parsed) {
  throw line_fault(path, line, fail_message, parsed);
}

void SharedReading::raise() const {
  if (error_) std::rethrow_exception(error_);
  if (fault_) throw *fault_;
}

namespace {

// What ended a process's reading, as the text of a fault that other processes can be told.
Fatal fault_of(const ReadOutcome& read, const PieceReader& in, std::int64_t line) {
  if (!read.error) return line_fault(in.path(), line, in.fail_message(), read.fault);
  try {
    std::rethrow_exception(read.error);
  } catch (const Fatal& f) {
    return f;
  } catch (const std::bad_alloc&) {
    return Fatal("out of memory", "not enough memory for the documents of this run");
  } catch (const std::exception& e) {
    return Fatal(in.fail_message(), in.path() + ": " + e.what());
  }
}

}  // namespace

SharedReading agree_on_reading(const ReadOutcome& mine, const PieceReader& in, Peers& peers) {
  SharedReading shared;
  constexpr std::int64_t kNone = INT64_MAX;
  if (peers.size() == 1) {
    shared.lines = shared.total = mine.lines;
    if (mine.tab_line != 0) warn_dropped_tab(in.path(), mine.tab_line);
    if (mine.error) {
      shared.error_ = mine.error;
    } else if (mine.stopped) {
      shared.fault_ = line_fault(in.path(), mine.lines + 1, in.fail_message(), mine.fault);
    }
    return shared;
  }
  shared.before = peers.sum_before(mine.lines);
  std::int64_t first[2] = {mine.stopped ? shared.before + mine.lines + 1 : kNone,
                           mine.tab_line != 0 ? shared.before + mine.tab_line : kNone};
  peers.min(first);
  const std::int64_t fault_line = first[0];
  if (peers.leads() && first[1] < fault_line) warn_dropped_tab(in.path(), first[1]);
  if (fault_line == kNone) {
    shared.lines = mine.lines;
    shared.total = peers.sum(mine.lines);
    return shared;
  }
  // The fault is the first process's that met a fault at that line.
  const int owner = static_cast<int>(peers.min(
      mine.stopped && shared.before + mine.lines + 1 == fault_line ? peers.rank() : kNone));
  std::string message;
  std::string detail;
  if (peers.rank() == owner) {
    const Fatal f = fault_of(mine, in, fault_line);
    message = f.message();
    detail = f.detail();
  }
  peers.share(message, owner);
  peers.share(detail, owner);
  shared.fault_.emplace(message, detail);
  shared.lines = peers.rank() <= owner ? mine.lines : 0;
  shared.total = fault_line - 1;
  return shared;
}

void warn_dropped_tab(const std::string& path, std::int64_t line) {
  const ProgressPause pause;
  std::cerr << "punb: " << path << ":" << line
            << ": warning: a tab does not separate pairs; text from the tab to the next space "
               "is ignored (warned once per file)\n";
}

}  // namespace punb
