#include "words/words.h"

#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <array>
#include <cstring>
#include <stdexcept>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace punb::words {

namespace {

// Word-break classes of the bytes, as far as ASCII text needs them. ICU's rules count '@' as a
// letter and take the colon out of MidLetter, so ':' always separates.
enum Kind : unsigned char {
  kOther,
  kLetter,
  kUpper,  // a capital letter, which folding lowers
  kDigit,
  kConnector,  // '_' (ExtendNumLet)
  kMidBoth,    // '.' and '\'': between two letters or between two digits
  kMidNumber,  // ',' and ';': between two digits only
  kSpace,      // white space that always has a word boundary before it and no word across it
  kHigh,       // a byte of a non-ASCII character
};

constexpr std::array<unsigned char, 256> make_kinds() {
  std::array<unsigned char, 256> k{};
  for (int c = 'a'; c <= 'z'; ++c) k[c] = kLetter;
  for (int c = 'A'; c <= 'Z'; ++c) k[c] = kUpper;
  k['@'] = kLetter;
  for (int c = '0'; c <= '9'; ++c) k[c] = kDigit;
  k['_'] = kConnector;
  k['.'] = kMidBoth;
  k['\''] = kMidBoth;
  k[','] = kMidNumber;
  k[';'] = kMidNumber;
  for (int c : {' ', '\t', '\n', '\v', '\f', '\r'}) k[c] = kSpace;
  for (int c = 0x80; c < 0x100; ++c) k[c] = kHigh;
  return k;
}
constexpr std::array<unsigned char, 256> kKinds = make_kinds();

bool is_word_part(unsigned char kind) { return kind >= kLetter && kind <= kConnector; }
bool is_letter(unsigned char kind) { return kind == kLetter || kind == kUpper; }

// How many of the bytes at `s` (`n` of them readable) are small letters a-z, counted up to 16
// at a time; 0 when fewer than 16 can be read.
std::size_t small_letters(const unsigned char* s, std::size_t n) {
#if defined(__SSE2__)
  if (n < 16) return 0;
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('a'));
  const __m128i small = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(25)), d);
  const auto others = static_cast<unsigned>(~_mm_movemask_epi8(small)) & 0xFFFFu;
  return others == 0 ? 16 : static_cast<std::size_t>(__builtin_ctz(others));
#else
  (void)s;
  (void)n;
  return 0;
#endif
}

bool is_ascii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

void check(UErrorCode status, const char* what) {
  if (U_FAILURE(status)) throw std::runtime_error(std::string(what) + ": " + u_errorName(status));
}

}  // namespace

WordSplitter::WordSplitter(bool fold, bool ascii_fast_path)
    : fold_(fold), ascii_fast_path_(ascii_fast_path) {
  UErrorCode status = U_ZERO_ERROR;
  breaker_ = ubrk_open(UBRK_WORD, "", nullptr, 0, &status);
  check(status, "ICU word break iterator");
  casefold_ = unorm2_getNFKCCasefoldInstance(&status);
  check(status, "ICU NFKC_Casefold");
}

WordSplitter::~WordSplitter() {
  ubrk_close(breaker_);
  utext_close(&text_);
}

void WordSplitter::split(std::string_view text, WordSink& sink) {
  if (!ascii_fast_path_) {
    split_with_icu(text, sink);
    return;
  }
  // Pieces between white space: the words of a pure-ASCII piece follow from the word-break
  // rules restricted to ASCII; the other pieces go to ICU with the white space before them, so
  // that ICU sees the context it would see in the whole text.
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    while (i < n && kKinds[s[i]] == kSpace) ++i;
    if (i == n) break;
    const std::size_t piece = i;
    if (!ascii_words(s, n, i)) {
      const std::size_t from = piece > 0 ? piece - 1 : 0;
      split_remembered(text.substr(from, i - from), sink);
      continue;
    }
    for (const PieceWord& w : piece_words_) {
      const std::string_view word = text.substr(w.start, w.length);
      sink.word(fold_ && w.capitals ? lower_ascii(word) : word);
    }
  }
}

namespace {

// Collects the words ICU finds in a piece into the arena of remembered pieces: a 16-bit count,
// then each word as a 16-bit length and its bytes.
class PieceRecorder final : public WordSink {
 public:
  using Arena = std::basic_string<char, std::char_traits<char>, HugePageAllocator<char>>;
  explicit PieceRecorder(Arena& arena) : arena_(arena), start_(arena.size()) { put(0); }
  void word(std::string_view w) override {
    ok_ = ok_ && w.size() <= UINT16_MAX && count_ < UINT16_MAX;
    ++count_;
    put(static_cast<std::uint16_t>(w.size()));
    arena_.append(w);
  }
  bool finish() {
    std::memcpy(arena_.data() + start_, &count_, 2);
    return ok_;
  }
  std::size_t start() const { return start_; }

 private:
  void put(std::uint16_t v) { arena_.append(reinterpret_cast<const char*>(&v), 2); }
  Arena& arena_;
  std::size_t start_;
  std::uint16_t count_ = 0;
  bool ok_ = true;
};

}  // namespace

// ICU takes thousands of instructions per call; a piece seen before (with the same white
// space before it) gets the words it got then. Pieces with ill-formed bytes are not kept, so
// every replacement is counted; the memory is bounded by starting afresh when it is full.
void WordSplitter::split_remembered(std::string_view piece, WordSink& sink) {
  constexpr std::size_t kLongestKept = 64;
  constexpr std::size_t kArenaLimit = std::size_t{4} << 20;
  if (piece.size() > kLongestKept) {
    split_with_icu(piece, sink);
    return;
  }
  std::size_t at;
  if (const std::uint32_t* known = remembered_.find(piece)) {
    at = *known;
  } else {
    if (arena_.size() > kArenaLimit) {
      remembered_ = WordTable<std::uint32_t>();
      arena_.clear();
    }
    // Room for the words of the pieces until the arena is full, taken at once: growing it a
    // step at a time would copy it and fault in new pages each time.
    if (arena_.capacity() < kArenaLimit) arena_.reserve(kArenaLimit + 4096);
    const std::uint64_t replaced_before = replaced_;
    PieceRecorder recorder(arena_);
    split_with_icu(piece, recorder);
    at = recorder.start();
    if (recorder.finish() && replaced_ == replaced_before)
      remembered_[piece] = static_cast<std::uint32_t>(at);
  }
  std::uint16_t count;
  std::memcpy(&count, arena_.data() + at, 2);
  at += 2;
  for (std::uint16_t w = 0; w < count; ++w) {
    std::uint16_t length;
    std::memcpy(&length, arena_.data() + at, 2);
    sink.word(std::string_view(arena_).substr(at + 2, length));
    at += 2 + std::size_t{length};
  }
}

// Finds the words of the piece starting at `i` into piece_words_ and moves `i` to its end;
// false when the piece holds a non-ASCII byte. Letters, digits and '_' join; '.' and '\''
// join two letters or two digits; ',' and ';' join two digits; a lone '_' is not a word.
bool WordSplitter::ascii_words(const unsigned char* s, std::size_t n, std::size_t& i) {
  piece_words_.clear();
  while (i < n) {
    unsigned char last = kKinds[s[i]];
    if (last == kSpace) return true;
    if (last == kHigh) {
      while (i < n && kKinds[s[i]] != kSpace) ++i;
      return false;
    }
    if (!is_word_part(last)) {
      ++i;
      continue;
    }
    const std::size_t start = i++;
    bool capitals = last == kUpper;
    while (i < n) {
      // Runs of small letters, the bulk of a word, are stepped over 16 bytes at a time.
      if (const std::size_t run = small_letters(s + i, n - i); run > 0) {
        i += run;
        last = kLetter;
        continue;
      }
      const unsigned char kind = kKinds[s[i]];
      if (is_word_part(kind)) {
        capitals |= kind == kUpper;
        last = kind;
        ++i;
        continue;
      }
      if ((kind == kMidBoth || kind == kMidNumber) && i + 1 < n) {
        const unsigned char next = kKinds[s[i + 1]];
        if ((last == kDigit && next == kDigit) ||
            (kind == kMidBoth && is_letter(last) && is_letter(next))) {
          capitals |= next == kUpper;
          last = next;
          i += 2;
          continue;
        }
      }
      break;
    }
    if (i - start > 1 || last != kConnector) piece_words_.push_back({start, i - start, capitals});
  }
  return true;
}

void WordSplitter::split_with_icu(std::string_view span, WordSink& sink) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(span.data());
  const auto length = static_cast<std::int32_t>(span.size());
  for (std::int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    replaced_ += c < 0;
  }
  UErrorCode status = U_ZERO_ERROR;
  utext_openUTF8(&text_, span.data(), length, &status);
  ubrk_setUText(breaker_, &text_, &status);
  check(status, "ICU word break iterator");
  std::int32_t begin = ubrk_first(breaker_);
  for (std::int32_t end = ubrk_next(breaker_); end != UBRK_DONE;
       begin = end, end = ubrk_next(breaker_)) {
    if (ubrk_getRuleStatus(breaker_) < UBRK_WORD_NONE_LIMIT) continue;
    const std::string_view word = fold(span.substr(begin, end - begin));
    if (!word.empty()) sink.word(word);
  }
}

std::string_view WordSplitter::fold(std::string_view word) {
  if (!fold_) return word;
  return is_ascii(word) ? lower_ascii(word) : fold_unicode(word);
}

// NFKC_Casefold of ASCII letters and digits is their lower case.
std::string_view WordSplitter::lower_ascii(std::string_view word) {
  if (folded_.size() < word.size()) folded_.resize(word.size());
  char* out = folded_.data();
  for (std::size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    out[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return {out, word.size()};
}

// NFKC_Casefold through UTF-16, ICU's working form; ill-formed input becomes U+FFFD.
std::string_view WordSplitter::fold_unicode(std::string_view word) {
  UErrorCode status = U_ZERO_ERROR;
  std::int32_t length = 0;
  utf16_.resize(word.size());
  u_strFromUTF8WithSub(utf16_.data(), static_cast<std::int32_t>(utf16_.size()), &length,
                       word.data(), static_cast<std::int32_t>(word.size()), 0xFFFD, nullptr,
                       &status);
  check(status, "UTF-8 to UTF-16");
  normalized_.resize(static_cast<std::size_t>(length) * 3 + 16);
  for (int attempt = 0; attempt < 2; ++attempt) {
    status = U_ZERO_ERROR;
    const std::int32_t n = unorm2_normalize(casefold_, utf16_.data(), length, normalized_.data(),
                                            static_cast<std::int32_t>(normalized_.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      normalized_.resize(static_cast<std::size_t>(n));
      continue;
    }
    check(status, "NFKC_Casefold");
    folded_.resize(static_cast<std::size_t>(n) * 3);
    std::int32_t bytes = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8(folded_.data(), static_cast<std::int32_t>(folded_.size()), &bytes,
                normalized_.data(), n, &status);
    check(status, "UTF-16 to UTF-8");
    folded_.resize(static_cast<std::size_t>(bytes));
    return folded_;
  }
  throw std::runtime_error("NFKC_Casefold: result keeps growing");
}

}  // namespace punb::words
