#include "report/pu_figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "docfile/workpool.h"
#include "report/figures.h"

namespace punb::report {

namespace {

double share(std::int64_t part, std::int64_t whole) {
  return static_cast<double>(part) / static_cast<double>(whole);
}

std::uint64_t mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t state) : state_(state) {}
  std::uint64_t next() { return mix(state_ += 0x9e3779b97f4a7c15ULL); }
  // Below n, n > 0.
  std::uint64_t below(std::uint64_t n) {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(next()) * n) >> 64);
  }

 private:
  std::uint64_t state_;
};

}  // namespace

PuCounts count_pu_decisions(const Ranking& r) {
  PuCounts c;
  c.positives = r.positives;
  c.unlabeled = r.negatives;
  for (const RankStep& s : r.steps) {
    if (!decided_positive(s.score)) break;  // the steps come by decreasing score
    c.positives_called += s.positives;
    c.unlabeled_called += s.negatives;
  }
  return c;
}

std::optional<double> pu_recall(const PuCounts& c) {
  if (c.positives == 0) return std::nullopt;
  return share(c.positives_called, c.positives);
}

std::optional<double> positive_share(const PuCounts& c) {
  if (c.unlabeled == 0) return std::nullopt;
  return share(c.unlabeled_called, c.unlabeled);
}

std::optional<double> lee_liu(const PuCounts& c) {
  const std::optional<double> r = pu_recall(c), q = positive_share(c);
  if (!r || !q || *q == 0) return std::nullopt;
  return *r * *r / *q;
}

std::optional<double> pu_precision(const PuCounts& c, double prior) {
  const std::optional<double> r = pu_recall(c), q = positive_share(c);
  if (!r || !q || *q == 0) return std::nullopt;
  return std::min(1.0, prior * *r / *q);
}

std::optional<double> pu_f1(const PuCounts& c, double prior) {
  const std::optional<double> r = pu_recall(c), p = pu_precision(c, prior);
  if (!r || !p) return std::nullopt;
  if (*p + *r == 0) return 0.0;
  return 2 * *p * *r / (*p + *r);
}

double corrected_auc(double auc, double prior) {
  return std::clamp((auc - prior / 2) / (1 - prior), 0.0, 1.0);
}

const char* const kPriorMethod = "upper-quartile ratio";

std::optional<PriorEstimate> estimate_prior(const Ranking& r) {
  if (r.positives == 0 || r.negatives == 0) return std::nullopt;
  // The unlabeled documents at or above a score hold the prior's share of the positives there,
  // and some negatives: their share over the held-out positives' share bounds the prior from
  // above. At the score of the top quarter of the held-out positives few negatives are left,
  // and enough positives to keep the ratio steady; the lowest ratio over all scores would chase
  // the noise of a few held-out positives and come out below the prior.
  const std::int64_t quarter = (r.positives + 3) / 4;
  std::int64_t positives = 0, unlabeled = 0;
  for (const RankStep& s : r.steps) {
    positives += s.positives;
    unlabeled += s.negatives;
    if (positives >= quarter) {
      return PriorEstimate{share(unlabeled, r.negatives) / share(positives, r.positives), s.score,
                           positives, unlabeled};
    }
  }
  return std::nullopt;  // not reached: every held-out positive is on some step
}

PuFigures measure_pu(const Ranking& r, std::optional<double> given_prior) {
  PuFigures f;
  f.counts = count_pu_decisions(r);
  f.recall = pu_recall(f.counts);
  f.share = positive_share(f.counts);
  f.lee_liu = lee_liu(f.counts);
  f.auc = roc_auc(r);
  if (given_prior) {
    f.prior = given_prior;
  } else if ((f.estimate = estimate_prior(r))) {
    // A ratio of shares can pass 1; the prior cannot.
    f.prior = std::min(1.0, f.estimate->value);
  }
  // A prior of 1 leaves no negatives to correct for.
  if (f.prior && *f.prior > 0 && *f.prior < 1) {
    f.precision = pu_precision(f.counts, *f.prior);
    f.f1 = pu_f1(f.counts, *f.prior);
    if (f.auc) f.corrected_auc = corrected_auc(*f.auc, *f.prior);
  }
  return f;
}

PuIntervals bootstrap_pu(const Ranking& r, std::optional<double> given_prior, int samples,
                         std::uint64_t seed, WorkerPool& pool) {
  // Each document as the step it belongs to, so that a sample is counted step by step.
  std::vector<std::uint32_t> positive_step, unlabeled_step;
  positive_step.reserve(static_cast<std::size_t>(r.positives));
  unlabeled_step.reserve(static_cast<std::size_t>(r.negatives));
  for (std::size_t i = 0; i < r.steps.size(); ++i) {
    positive_step.insert(positive_step.end(), static_cast<std::size_t>(r.steps[i].positives),
                         static_cast<std::uint32_t>(i));
    unlabeled_step.insert(unlabeled_step.end(), static_cast<std::size_t>(r.steps[i].negatives),
                          static_cast<std::uint32_t>(i));
  }
  const auto n = static_cast<std::size_t>(samples);
  std::vector<PuFigures> figures(n);
  std::vector<Ranking> scratch(pool.size(), r);
  pool.run(n, [&](std::size_t b, unsigned worker) {
    Ranking& s = scratch[worker];
    for (RankStep& step : s.steps) step.positives = step.negatives = 0;
    SplitMix64 random(mix(seed + mix(b)));
    for (std::size_t k = 0; k < positive_step.size(); ++k)
      ++s.steps[positive_step[random.below(positive_step.size())]].positives;
    for (std::size_t k = 0; k < unlabeled_step.size(); ++k)
      ++s.steps[unlabeled_step[random.below(unlabeled_step.size())]].negatives;
    figures[b] = measure_pu(s, given_prior);
  });

  // The values between the lowest and the highest (1 - level) / 2 of the samples.
  auto interval = [&](std::optional<double> PuFigures::*figure) -> std::optional<Interval> {
    std::vector<double> v;
    v.reserve(n);
    for (const PuFigures& f : figures) {
      if (!(f.*figure)) return std::nullopt;
      v.push_back(*(f.*figure));
    }
    if (v.empty()) return std::nullopt;
    std::sort(v.begin(), v.end());
    const auto tail =
        static_cast<std::size_t>(std::floor(static_cast<double>(n) * (1 - kIntervalLevel) / 2));
    return Interval{v[tail], v[n - 1 - tail]};
  };
  PuIntervals i;
  i.recall = interval(&PuFigures::recall);
  i.share = interval(&PuFigures::share);
  i.lee_liu = interval(&PuFigures::lee_liu);
  i.prior = interval(&PuFigures::prior);
  i.precision = interval(&PuFigures::precision);
  i.f1 = interval(&PuFigures::f1);
  i.auc = interval(&PuFigures::auc);
  i.corrected_auc = interval(&PuFigures::corrected_auc);
  return i;
}

std::string degenerate_decision(const PuCounts& c) {
  const std::optional<double> r = pu_recall(c), q = positive_share(c);
  if (!r || !q) return "";
  char text[200];
  if (*q >= 0.95) {
    std::snprintf(text, sizeof text,
                  "the classifier calls %.1f %% of the unlabeled documents positive: "
                  "almost all of them",
                  *q * 100);
    return text;
  }
  if (*r <= 0.05) {
    std::snprintf(text, sizeof text,
                  "the classifier calls %.1f %% of the held-out positives positive: "
                  "almost none of them",
                  *r * 100);
    return text;
  }
  return "";
}

}  // namespace punb::report
