#include "nb/score.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "docfile/fatal.h"
#include "nb/testread.h"

namespace punb {

namespace {

constexpr const char* kDegenerateModel = "degenerate model";

double checked_log(double p, const char* what) {
  const double l = std::log(p);
  if (!std::isfinite(l)) {
    char value[32];
    std::snprintf(value, sizeof value, "%.17g", p);
    throw Fatal(kDegenerateModel,
                std::string(what) + " is " + value +
                    ", whose logarithm is not finite, so no posterior would be "
                    "(data with an empty class, or a smoothing weight too small)");
  }
  return l;
}

}  // namespace

void ScoreTable::rebuild(const Model& model, const VocabularyMask& mask, const Vocabulary& vocab,
                         WorkerPool* pool) {
  ln_prior_neg_ = checked_log(model.priors.neg, "the negative class prior");
  ln_prior_pos_ = checked_log(model.priors.pos, "the positive class prior");
  ln_.resize(static_cast<std::size_t>(vocab.largest) + 1);
  auto take_logs = [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      if (mask[i] != 1) continue;
      ln_[i] = {checked_log(model.neg[i], "a negative-class word probability"),
                checked_log(model.pos[i], "a positive-class word probability")};
    }
  };
  // In spans, so that a probability of 0 is reported for the lowest index that has one.
  constexpr std::size_t kSpan = std::size_t{1} << 13;
  const std::size_t spans = (ln_.size() + kSpan - 1) / kSpan;
  if (!pool || spans < 2) {
    take_logs(0, ln_.size());
    return;
  }
  pool->run(spans, [&](std::size_t k, unsigned) {
    take_logs(k * kSpan, std::min(ln_.size(), (k + 1) * kSpan));
  });
}

namespace {

// Lanes of a batch, in pairs: a pair's two documents share the registers of the SSE2 path.
constexpr int kLanePairs = 4;
constexpr int kLanes = 2 * kLanePairs;

// How many pairs ahead of each lane the table entries are asked for.
constexpr std::size_t kPrefetchAhead = 8;

// Lanes jump from one document to another, where the processor's own look-ahead for memory read
// in sequence loses track: the first cache lines of the document kDocsAhead after the one a lane
// takes are asked for then, and the words kWordsAhead ahead of every lane every 16 steps (a
// line holds 16 words).
constexpr std::size_t kDocsAhead = 8;
constexpr std::size_t kDocLines = 4;
constexpr std::size_t kWordsAhead = 48;

// Asks for the memory `bytes` on from `at`, which may lie past the end of what `at` points into:
// the address is made without pointer arithmetic.
inline void prefetch_past(const void* at, std::size_t bytes) {
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(at) + bytes));
}

// A lane with no document left reads these pairs (index 0, count 0); its scores are never used.
// Every table has an entry 0.
constexpr std::size_t kIdleWords = 64;
constexpr std::uint32_t kIdle[kIdleWords + kPrefetchAhead] = {};
constexpr std::size_t kIdleSlot = SIZE_MAX;

// A pair word at or above this has the escape count: its count is the next word.
constexpr std::uint32_t kEscapeWord = DocStore::kCountEscape << DocStore::kIndexBits;

// The scores of two lanes; add() is ClassScores::add_word for both.
#if defined(__SSE2__)
class TwoLanes {
 public:
  void set(int half, double neg, double pos) {
    if (half == 0) {
      neg_ = _mm_move_sd(neg_, _mm_set_sd(neg));
      pos_ = _mm_move_sd(pos_, _mm_set_sd(pos));
    } else {
      neg_ = _mm_unpacklo_pd(neg_, _mm_set_sd(neg));
      pos_ = _mm_unpacklo_pd(pos_, _mm_set_sd(pos));
    }
  }
  double neg(int half) const { return half == 0 ? _mm_cvtsd_f64(neg_) : high(neg_); }
  double pos(int half) const { return half == 0 ? _mm_cvtsd_f64(pos_) : high(pos_); }

  // Counts are below 2^31 (they were read as non-negative int32), so the signed conversions
  // are exact, as the scalar one is.
  void add(std::uint32_t count_a, const double* ln_a, std::uint32_t count_b, const double* ln_b) {
    add(_mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(count_a)),
                           _mm_cvtsi32_si128(static_cast<int>(count_b))),
        ln_a, ln_b);
  }
  // The same for two one-word pairs, whose counts are in their count bits.
  void add_words(std::uint32_t word_a, const double* ln_a, std::uint32_t word_b,
                 const double* ln_b) {
    const __m128i words = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(word_a)),
                                             _mm_cvtsi32_si128(static_cast<int>(word_b)));
    add(_mm_srli_epi32(words, DocStore::kIndexBits), ln_a, ln_b);
  }

 private:
  void add(__m128i counts, const double* ln_a, const double* ln_b) {
    const __m128d a = _mm_loadu_pd(ln_a);  // {ln P(i|neg), ln P(i|pos)}
    const __m128d b = _mm_loadu_pd(ln_b);
    const __m128d c = _mm_cvtepi32_pd(counts);
    neg_ = _mm_add_pd(neg_, _mm_mul_pd(c, _mm_unpacklo_pd(a, b)));
    pos_ = _mm_add_pd(pos_, _mm_mul_pd(c, _mm_unpackhi_pd(a, b)));
    // m = bound; if (neg < m) m = neg; if (pos < m) m = pos: minpd(x, y) is x < y ? x : y.
    __m128d m = _mm_min_pd(neg_, _mm_set1_pd(kScoreBound));
    m = _mm_min_pd(pos_, m);
    neg_ = _mm_sub_pd(neg_, m);
    pos_ = _mm_sub_pd(pos_, m);
  }

  static double high(__m128d v) { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }
  __m128d neg_ = _mm_setzero_pd();
  __m128d pos_ = _mm_setzero_pd();
};
#else
class TwoLanes {
 public:
  void set(int half, double neg, double pos) {
    neg_[half] = neg;
    pos_[half] = pos;
  }
  double neg(int half) const { return neg_[half]; }
  double pos(int half) const { return pos_[half]; }

  void add(std::uint32_t count_a, const double* ln_a, std::uint32_t count_b, const double* ln_b) {
    add_one(0, count_a, ln_a);
    add_one(1, count_b, ln_b);
  }
  void add_words(std::uint32_t word_a, const double* ln_a, std::uint32_t word_b,
                 const double* ln_b) {
    add(word_a >> DocStore::kIndexBits, ln_a, word_b >> DocStore::kIndexBits, ln_b);
  }

 private:
  void add_one(int h, std::uint32_t count, const double* ln) {
    const double c = static_cast<double>(count);
    neg_[h] = neg_[h] + c * ln[0];
    pos_[h] = pos_[h] + c * ln[1];
    double m = kScoreBound;
    if (neg_[h] < m) m = neg_[h];
    if (pos_[h] < m) m = pos_[h];
    neg_[h] = neg_[h] - m;
    pos_[h] = pos_[h] - m;
  }
  double neg_[2] = {0.0, 0.0};
  double pos_[2] = {0.0, 0.0};
};
#endif

// The table entry of a pair word's index.
inline const double* entry(const double* ln0, std::uint32_t word) {
  return ln0 + 2 * std::size_t{word & DocStore::kIndexMask};
}

// Asks for the table entry of the pair word `word`. It may be the second word of a large count,
// whose index bits mean nothing, so the address is made without pointer arithmetic.
inline void prefetch_entry(const double* ln0, std::uint32_t word) {
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(ln0) +
                            std::uintptr_t{word & DocStore::kIndexMask} * 2 * sizeof(double);
  __builtin_prefetch(reinterpret_cast<const void*>(at));
}

// Runs `steps` steps, one pair of every lane each, and moves the lanes past them; lane k holds
// left[k] words, at least `steps`. The table entries of the words kPrefetchAhead ahead are asked
// for wherever a lane has them. Unless every pair is known to take one word, a large count (two
// words) ends the run after its step, so that no lane passes its end. Returns the steps run.
template <bool OneWordPairs>
std::size_t run_steps(const std::uint32_t* (&lane)[kLanes], TwoLanes (&lanes)[kLanePairs],
                      const double* ln0, std::size_t steps, const std::size_t (&left)[kLanes]) {
  const std::uint32_t* w[kLanes];
#pragma GCC unroll 8
  for (int k = 0; k < kLanes; ++k) w[k] = lane[k];
  TwoLanes s[kLanePairs];
#pragma GCC unroll 4
  for (int p = 0; p < kLanePairs; ++p) s[p] = lanes[p];
  // Word i of lane k is w[k][i] until a large count is met.
  std::size_t i = 0;
  bool escaped = false;
  auto step = [&] {
#pragma GCC unroll 4
    for (int p = 0; p < kLanePairs; ++p) {
      const std::uint32_t a = w[2 * p][i];
      const std::uint32_t b = w[2 * p + 1][i];
      if (!OneWordPairs && std::max(a, b) >= kEscapeWord) {
        s[p].add(a >= kEscapeWord ? w[2 * p][i + 1] : a >> DocStore::kIndexBits, entry(ln0, a),
                 b >= kEscapeWord ? w[2 * p + 1][i + 1] : b >> DocStore::kIndexBits, entry(ln0, b));
        escaped = true;
      } else {
        s[p].add_words(a, entry(ln0, a), b, entry(ln0, b));
      }
    }
    ++i;
  };
  // While every lane has the words ahead, without a test; then lane by lane.
  const std::size_t every_lane = steps > kPrefetchAhead ? steps - kPrefetchAhead : 0;
  while (i < every_lane && !escaped) {
#pragma GCC unroll 8
    for (int k = 0; k < kLanes; ++k) prefetch_entry(ln0, w[k][i + kPrefetchAhead]);
    if (i % 16 == 0) {
#pragma GCC unroll 8
      for (int k = 0; k < kLanes; ++k) prefetch_past(w[k] + i, kWordsAhead * sizeof(std::uint32_t));
    }
    step();
  }
  while (i < steps && !escaped) {
#pragma GCC unroll 8
    for (int k = 0; k < kLanes; ++k) {
      if (i + kPrefetchAhead < left[k]) prefetch_entry(ln0, w[k][i + kPrefetchAhead]);
    }
    step();
  }
#pragma GCC unroll 8
  for (int k = 0; k < kLanes; ++k) {
    // A lane whose last pair had a large count moves one word further.
    lane[k] = w[k] + i + (escaped && w[k][i - 1] >= kEscapeWord ? 1 : 0);
  }
#pragma GCC unroll 4
  for (int p = 0; p < kLanePairs; ++p) lanes[p] = s[p];
  return i;
}

}  // namespace

void score_batch(const DocStore::Document* docs, std::size_t n, const ScoreTable& table,
                 Posteriors* out) {
  const double* const ln0 = table.ln_words(0);
  bool one_word_pairs = true;
  for (std::size_t j = 0; j < n; ++j) one_word_pairs &= docs[j].one_word_pairs();
  TwoLanes lanes[kLanePairs];
  const std::uint32_t* w[kLanes];
  const std::uint32_t* end[kLanes];
  std::size_t slot[kLanes];
  std::size_t next = 0;
  int busy = 0;
  // Gives lane k the next document with words (documents without are scored on the spot), or
  // the idle pairs.
  auto take = [&](int k) {
    while (next < n && docs[next].words_begin() == docs[next].words_end()) {
      out[next] = score_document(docs[next], table);
      ++next;
    }
    if (next == n) {
      w[k] = kIdle;
      end[k] = kIdle + kIdleWords;
      slot[k] = kIdleSlot;
      return;
    }
    slot[k] = next;
    w[k] = docs[next].words_begin();
    end[k] = docs[next].words_end();
    if (next + kDocsAhead < n) {
      const std::uint32_t* a = docs[next + kDocsAhead].words_begin();
#pragma GCC unroll 4
      for (std::size_t l = 0; l < kDocLines; ++l) prefetch_past(a, 64 * l);
    }
    // The words that the steps' look-ahead has passed already.
    for (const std::uint32_t* a = w[k]; a != end[k] && a != w[k] + kPrefetchAhead; ++a) {
      prefetch_entry(ln0, *a);
    }
    lanes[k / 2].set(k % 2, table.ln_prior_neg(), table.ln_prior_pos());
    ++next;
    ++busy;
  };
  for (int k = 0; k < kLanes; ++k) take(k);
  while (busy > 0) {
    // Up to the first lane's end: every lane has at least `steps` words left. An idle lane's
    // pairs are followed by kPrefetchAhead more.
    std::size_t left[kLanes];
    std::size_t steps = kIdleWords;
    for (int k = 0; k < kLanes; ++k) {
      left[k] = static_cast<std::size_t>(end[k] - w[k]);
      steps = std::min(steps, left[k]);
      if (slot[k] == kIdleSlot) left[k] += kPrefetchAhead;
    }
    if (one_word_pairs) {
      run_steps<true>(w, lanes, ln0, steps, left);
    } else {
      run_steps<false>(w, lanes, ln0, steps, left);
    }
    for (int k = 0; k < kLanes; ++k) {
      if (slot[k] == kIdleSlot) {
        w[k] = kIdle;
        continue;
      }
      if (w[k] != end[k]) continue;
      out[slot[k]] = ClassScores::posteriors_of(lanes[k / 2].neg(k % 2), lanes[k / 2].pos(k % 2));
      --busy;
      take(k);
    }
  }
}

char* format_probability_line(double p, char* out) {
  // to_chars rounds exactly as printf does (round half to even on the exact binary value).
  char* end =
      std::to_chars(out, out + kProbabilityLineMax - 1, p, std::chars_format::fixed, 16).ptr;
  *end++ = '\n';
  return end;
}

void append_probability_lines(std::span<const Posteriors> post, std::string& lines) {
  std::size_t used = lines.size();
  lines.resize(used + post.size() * kProbabilityLineMax);
  for (const Posteriors& p : post) {
    char* at = lines.data() + used;
    used += static_cast<std::size_t>(format_probability_line(p.pos, at) - at);
  }
  lines.resize(used);
}

}  // namespace punb
