#include "nb/score.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>

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
