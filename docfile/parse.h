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
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace punb {

// Valid feature indices are 0 .. kIndexCount - 1.
inline constexpr int32_t kIndexCount = 500000;

// Bytes after a line that the parser borrows (and gives back) for the appended end pair, and
// room for reading eight bytes at a time anywhere up to the end pair's end.
inline constexpr std::size_t kLineSlack = 16;

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
  // Bytes from `text` up to `limit` may be read (the text ends before it, at a NUL).
  Tokens(const char* text, const char* limit) : p_(text), limit_(limit) {}

  // Returns false when no token is left (the cursor then rests on the terminating NUL).
  bool next(char delim, std::int64_t& value) {
    // Most tokens are one to seven digits and their delimiter. Where 64 bytes can be read, a mask
    // of the bytes that are no digit gives, bit after bit, where each token ends, without a
    // chain of loads and scans from one token to the next; anything else is read byte by byte.
    if (others_ == 0) look_ahead();
    if (others_ != 0) {
      const auto end = static_cast<std::size_t>(__builtin_ctzll(others_));
      const std::size_t digits = end - static_cast<std::size_t>(p_ - base_);
      if (digits - 1 < 7 && base_[end] == delim) {
        value = value_at(p_, digits);
        others_ &= others_ - 1;
        p_ = base_ + end + 1;
        return true;
      }
    }
    const bool taken = next_bytewise(delim, value);
    // Where the byte-wise reading left the cursor, the mask goes on (or is made anew).
    const auto at = static_cast<std::size_t>(p_ - base_);
    others_ = base_ && at < 64 ? block_others_ & (~std::uint64_t{0} << at) : 0;
    return taken;
  }

  // Takes a whole pair when it is plain, `index:count ` with one to seven digits each, as next()
  // would take its two tokens; otherwise takes nothing and returns false.
  bool plain_pair(std::uint32_t& index, std::uint32_t& count) {
    if (others_ == 0) look_ahead();
    const std::uint64_t after_index = others_ & (others_ - 1);
    if (after_index == 0) return false;
    const auto colon = static_cast<std::size_t>(__builtin_ctzll(others_));
    const auto space = static_cast<std::size_t>(__builtin_ctzll(after_index));
    const std::size_t index_digits = colon - static_cast<std::size_t>(p_ - base_);
    const std::size_t count_digits = space - colon - 1;
    if (index_digits - 1 >= 7 || count_digits - 1 >= 7 || base_[colon] != ':' ||
        base_[space] != ' ') {
      return false;
    }
    index = value_at(p_, index_digits);
    count = value_at(base_ + colon + 1, count_digits);
    others_ = after_index & (after_index - 1);
    p_ = base_ + space + 1;
    return true;
  }

  const char* position() const { return p_; }
  bool dropped_tab() const { return dropped_tab_; }

 private:
  // The number of the `digits` (1 to 7) digits at `p`, within the bytes that may be read.
  static std::uint32_t value_at(const char* p, std::size_t digits) {
    if (digits == 1) return static_cast<std::uint32_t>(*p - '0');  // most counts
    std::uint64_t x;
    std::memcpy(&x, p, sizeof x);
    return digits_value(x, static_cast<int>(digits));
  }

  // The mask of up to 64 bytes from the cursor on, 16 at a time, as many as may be read with 8
  // more after them (a number that starts in them is read 8 bytes at a time). Past them the mask
  // claims non-digits: a token that seems to end there is taken only where the byte itself is
  // its delimiter, so it is read byte by byte. Without SSE2 there is no mask, and every token is
  // read byte by byte.
  void look_ahead() {
    base_ = nullptr;
#if defined(__SSE2__)
    const std::ptrdiff_t readable = limit_ - p_ - 8;
    if (readable < 16) return;
    const int chunks = readable >= 64 ? 4 : static_cast<int>(readable / 16);
    base_ = p_;
    std::uint64_t digits = 0;
    for (int k = 0; k < chunks; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_ + 16 * k));
      const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
      // Digits are the bytes that '0' takes to 0 .. 9.
      const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
      digits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(is_digit))} << (16 * k);
    }
    block_others_ = ~digits;
    others_ = block_others_;
#endif
  }

  // The number the first `digits` (1 to 7) bytes of `x` spell, the first the most significant.
  static std::uint32_t digits_value(std::uint64_t x, int digits) {
    // Leading zeros make eight digits, which are then put together pairwise.
    std::uint64_t v = (x - 0x3030303030303030) << (8 * (8 - digits));
    v = v * 10 + (v >> 8);
    v = ((v & 0x000000FF000000FF) * (100 + (std::uint64_t{1000000} << 32)) +
         ((v >> 16) & 0x000000FF000000FF) * (1 + (std::uint64_t{10000} << 32))) >>
        32;
    return static_cast<std::uint32_t>(v);
  }

  bool next_bytewise(char delim, std::int64_t& value) {
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

  const char* p_;
  const char* limit_;
  const char* base_ = nullptr;      // where the 64 bytes of the mask begin
  std::uint64_t block_others_ = 0;  // bit k: base_[k] is no digit
  std::uint64_t others_ = 0;        // the same, only from the cursor on
  bool dropped_tab_ = false;
};

// `text` is NUL-terminated at `end` and already carries the end pair; bytes up to `limit` may be
// read.
template <class Sink>
ParsedLine parse_terminated(const char* text, const char* end, const char* limit, bool test_line,
                            Sink& sink) {
  Tokens tokens(text, limit);
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
    std::uint32_t plain_index;
    std::uint32_t plain_count;
    if (tokens.plain_pair(plain_index, plain_count)) {
      // Both numbers are below 10^7: only the index can be out of range.
      if (plain_index >= static_cast<std::uint32_t>(kIndexCount)) {
        return finish(LineFault::index_out_of_range, plain_index);
      }
      sink(static_cast<std::int32_t>(plain_index), static_cast<std::int32_t>(plain_count));
      continue;
    }
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
  // The end pair and its NUL, then zeros, so that every byte the parser may read is set.
  static constexpr char kEndPair[kLineSlack] = " -1:-1";
  constexpr std::size_t kEndPairLength = 6;
  char* tail = line + size;
  char saved[kLineSlack];
  std::memcpy(saved, tail, kLineSlack);
  std::memcpy(tail, kEndPair, kLineSlack);
  ParsedLine result =
      detail::parse_terminated(line, tail + kEndPairLength, tail + kLineSlack, test_line, sink);
  std::memcpy(tail, saved, kLineSlack);
  return result;
}

}  // namespace punb
