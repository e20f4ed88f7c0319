#pragma once

// Document lines: `index:count` pairs separated by spaces; test lines begin with a label.
//
// The reading is fixed by the text itself: the line gets the end pair " -1:-1" appended, then
// tokens are cut with ':' (index) and ' ' (count) used alternately, each token beginning after a
// run of its own delimiter and ending before the next one, and converted by leading white space,
// an optional sign and decimal digits (no digits gives 0). That reading is what users' files have
// always meant, including its odd corners (a tab does not separate pairs, `3.9` is 3, `-1:-1`
// ends the line wherever it stands), so it is kept exactly, in one pass over the bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace punb {

// Valid feature indices are 0 .. kIndexCount - 1.
inline constexpr int32_t kIndexCount = 500000;

// Bytes after a line that the parser borrows (and gives back) for the appended end pair.
inline constexpr std::size_t kLineSlack = 8;

enum class LineFault : std::uint8_t {
  none,
  bad_label,            // a test label other than 1 or -1
  number_out_of_range,  // a number that does not fit in 32 bits
  index_out_of_range,   // a feature index below -1 or above 499999
  negative_count,       // a negative count for an index of 0 or more
  nul_byte,             // a NUL byte inside the text that is read
};

struct ParsedLine {
  std::int32_t label = 0;  // test lines only
  LineFault fault = LineFault::none;
  std::int64_t value = 0;    // the offending number of a fault
  bool dropped_tab = false;  // a tab stood in text that the reading throws away
};

namespace detail {

inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool fits_int32(std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// The token cursor: each call takes the next token cut by `delim` and converts it.
class Tokens {
 public:
  explicit Tokens(const char* text) : p_(text) {}

  // Returns false when no token is left (the cursor then rests on the terminating NUL).
  bool next(char delim, std::int64_t& value) {
    const char* p = p_;
    while (*p == delim) ++p;
    if (*p == '\0') {
      p_ = p;
      return false;
    }
    while (is_space(*p) && *p != delim) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
      negative = *p == '-';
      ++p;
    }
    // Saturates just above the int32 range so that overflow is seen, never wrapped.
    constexpr std::uint64_t kCap = (std::uint64_t{1} << 31) + 1;
    std::uint64_t v = 0;
    while (static_cast<unsigned char>(*p - '0') < 10) {
      v = v * 10 + static_cast<unsigned>(*p - '0');
      if (v > kCap) v = kCap;
      ++p;
    }
    value = negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
    while (*p != delim && *p != '\0') {
      dropped_tab_ |= *p == '\t';
      ++p;
    }
    if (*p == delim) ++p;
    p_ = p;
    return true;
  }

  const char* position() const { return p_; }
  bool dropped_tab() const { return dropped_tab_; }

 private:
  const char* p_;
  bool dropped_tab_ = false;
};

// `text` is NUL-terminated at `end` and already carries the end pair.
template <class Sink>
ParsedLine parse_terminated(const char* text, const char* end, bool test_line, Sink& sink) {
  Tokens tokens(text);
  ParsedLine result;
  auto finish = [&](LineFault fault, std::int64_t value = 0) {
    result.fault = fault;
    result.value = value;
    result.dropped_tab = tokens.dropped_tab();
    return result;
  };
  auto ran_out = [&] {
    return finish(tokens.position() == end ? LineFault::none : LineFault::nul_byte);
  };
  if (test_line) {
    std::int64_t label = 0;
    if (!tokens.next(' ', label)) return ran_out();
    if (!fits_int32(label)) return finish(LineFault::number_out_of_range);
    result.label = static_cast<std::int32_t>(label);
    if (label != 1 && label != -1) return finish(LineFault::bad_label, label);
  }
  for (;;) {
    std::int64_t index = 0;
    std::int64_t count = 0;
    if (!tokens.next(':', index)) return ran_out();
    if (!fits_int32(index)) return finish(LineFault::number_out_of_range);
    if (!tokens.next(' ', count)) return ran_out();
    if (!fits_int32(count)) return finish(LineFault::number_out_of_range);
    if (index == -1) {
      if (count == -1) return finish(LineFault::none);
      continue;  // -1 with another count is a skipped pair, not the end
    }
    if (index < -1 || index >= kIndexCount) return finish(LineFault::index_out_of_range, index);
    if (count < 0) return finish(LineFault::negative_count, count);
    sink(static_cast<std::int32_t>(index), static_cast<std::int32_t>(count));
  }
}

}  // namespace detail

// Parses one line read by DocumentReader (its newline, if any, included in `size`). The
// kLineSlack bytes after the line must be writable; they hold the end pair during the parse and
// are restored afterwards. Training lines carry no label. Every pair with an index in
// 0..499999 is handed to `sink(index, count)` in line order, up to the end pair; pairs with index
// -1 are skipped. Parsing stops at the first fault.
template <class Sink>
ParsedLine parse_document_line(char* line, std::size_t size, bool test_line, Sink&& sink) {
  static constexpr char kEndPair[] = " -1:-1";  // 7 bytes with its NUL
  char* tail = line + size;
  char saved[kLineSlack];
  std::memcpy(saved, tail, kLineSlack);
  std::memcpy(tail, kEndPair, sizeof kEndPair);
  ParsedLine result = detail::parse_terminated(line, tail + sizeof kEndPair - 1, test_line, sink);
  std::memcpy(tail, saved, kLineSlack);
  return result;
}

}  // namespace punb
