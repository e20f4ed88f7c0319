#include "docfile/pieces.h"

#include <string.h>  // memrchr

#include <algorithm>
#include <cstring>
#include <iostream>

#include "docfile/docstore.h"
#include "docfile/fatal.h"

namespace punb {

namespace {

// The first read, made at opening: small, so that a short file costs little.
constexpr std::size_t kFirstRead = std::size_t{1} << 16;

}  // namespace

PieceReader::PieceReader(std::string path, const char* fail_message)
    : file_(std::move(path), fail_message), carry_(kFirstRead) {
  carried_ = read_more(carry_, 0);  // a directory or an unreadable file fails here
}

// Appends what the file still holds to `into` after its first `used` bytes, up to its size less
// the slack; returns the new count of bytes held.
std::size_t PieceReader::read_more(ByteBuffer& into, std::size_t used) {
  if (eof_) return used;
  const std::size_t capacity = into.size() - kLineSlack;
  const std::size_t got = file_.read(into.data() + used, capacity - used);
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

std::int64_t read_document_store(PieceReader& in, WorkerPool& pool, DocStore& docs,
                                 std::size_t piece_bytes) {
  docs.reserve_for_text(in.file_size());
  // One thread parses straight into the store; several into stores of their own, appended in
  // file order.
  const bool direct = pool.size() == 1;
  std::vector<DocStore> slots(direct ? 0 : pieces_per_window(pool));
  auto parse = [&](std::size_t k, Piece piece, unsigned) {
    DocStore& s = direct ? docs : slots[k];
    if (!direct) s.clear();
    const PieceOutcome outcome = parse_piece(
        piece, false, [&] { s.begin_document(); },
        [&](std::int32_t index, std::int32_t count) { s.add_pair(index, count); },
        [&](std::int32_t) { s.end_document(); });
    // The line that stopped the parse had begun a document.
    if (outcome.fault.fault != LineFault::none || outcome.error) s.discard_document();
    return outcome;
  };
  return parse_file(
      in, pool, parse,
      [&](std::size_t k, const PieceOutcome&) {
        if (!direct) docs.append(slots[k]);
      },
      piece_bytes);
}

void fail_at_line(const std::string& path, std::int64_t line, const char* fail_message,
                  const ParsedLine& parsed) {
  std::string where = path + ":" + std::to_string(line) + ": ";
  std::string value = std::to_string(parsed.value);
  switch (parsed.fault) {
    case LineFault::bad_label:
      throw Fatal(kTestFormatError, where + "label " + value + " is neither 1 nor -1");
    case LineFault::number_out_of_range:
      throw Fatal("number out of range", where + "a number does not fit in 32 bits");
    case LineFault::index_out_of_range:
      throw Fatal("feature index out of range",
                  where + "feature index " + value + " is outside 0..499999 (and is not -1)");
    case LineFault::negative_count:
      throw Fatal("negative count", where + "count " + value + " is negative");
    case LineFault::nul_byte:
      throw Fatal("NUL byte in input", where + "the line holds a NUL byte");
    case LineFault::none:
      break;
  }
  throw Fatal(fail_message, where + "unreadable line");
}

void warn_dropped_tab(const std::string& path, std::int64_t line) {
  std::cerr << "punb: " << path << ":" << line
            << ": warning: a tab does not separate pairs; text from the tab to the next space "
               "is ignored (warned once per file)\n";
}

}  // namespace punb
