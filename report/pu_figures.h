#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/ranking.h"

namespace punb {
class WorkerPool;
}

namespace punb::report {

// Figures of a classifier without labelled negatives: its posteriors of held-out positives (a
// random share of the known positives, kept out of training) and of unlabeled documents. Under
// the assumption that the known positives are a random sample of all positives, the held-out
// ones score as the unlabeled positives do, so the unlabeled set is a mixture of them, in the
// share `prior`, and of negatives. A figure that the documents leave undefined is none.
//
// The rankings below take the held-out positives as their positive documents and the unlabeled
// documents as their negative ones.

// How punb's decision (positive when 1 - p <= p) splits either set.
struct PuCounts {
  std::int64_t positives = 0;         // held-out positives
  std::int64_t positives_called = 0;  // of them decided positive
  std::int64_t unlabeled = 0;
  std::int64_t unlabeled_called = 0;
};

PuCounts count_pu_decisions(const Ranking& r);

// r: the share of the held-out positives decided positive (the recall on all positives).
std::optional<double> pu_recall(const PuCounts& c);
// q: the share of the unlabeled documents decided positive.
std::optional<double> positive_share(const PuCounts& c);
// Lee and Liu's r^2 / q, which orders classifiers as r x precision does, without the prior.
std::optional<double> lee_liu(const PuCounts& c);
// The precision on the unlabeled documents, prior x r / q (at most 1).
std::optional<double> pu_precision(const PuCounts& c, double prior);
// 2 p r / (p + r) with that precision; 0 when both are 0.
std::optional<double> pu_f1(const PuCounts& c, double prior);
// The ROC AUC of the positives against the negatives among the unlabeled documents, from the AUC
// `auc` of the held-out positives against all unlabeled ones: (auc - prior / 2) / (1 - prior),
// clipped to [0, 1].
double corrected_auc(double auc, double prior);

// An estimate of the prior from the ranking, and how it was found: the share of the unlabeled
// documents at or above the score of the top quarter of the held-out positives, over the share
// of the held-out positives there. An upper bound (but for noise), since the unlabeled documents
// there are the positives the prior brings and some negatives.
struct PriorEstimate {
  double value;
  double threshold;        // the score at and above which the shares were compared
  std::int64_t positives;  // held-out positives at and above it
  std::int64_t unlabeled;  // unlabeled documents at and above it
};
std::optional<PriorEstimate> estimate_prior(const Ranking& r);
// The words that say what estimate_prior does, for the report.
extern const char* const kPriorMethod;

// Every figure of one ranking, the prior given or estimated.
struct PuFigures {
  PuCounts counts;
  std::optional<double> recall, share, lee_liu, prior, precision, f1;
  std::optional<double> auc;              // held-out positives against all unlabeled documents
  std::optional<double> corrected_auc;    // positives against negatives
  std::optional<PriorEstimate> estimate;  // when the prior was estimated
};

PuFigures measure_pu(const Ranking& r, std::optional<double> given_prior);

// Percentile intervals of the figures over bootstrap samples of both sets: each sample draws as
// many held-out positives and as many unlabeled documents as there are, with replacement. The
// interval of a figure is none when some sample leaves it undefined.
struct Interval {
  double low, high;
};
struct PuIntervals {
  std::optional<Interval> recall, share, lee_liu, prior, precision, f1, auc, corrected_auc;
};

inline constexpr int kBootstrapSamples = 1000;
inline constexpr std::uint64_t kBootstrapSeed = 1;
inline constexpr double kIntervalLevel = 0.95;

// Sample b draws from splitmix64 started at mix(seed + mix(b)), mix being splitmix64's output
// function; a draw below n is floor(x n / 2^64). The intervals are the same whatever the number
// of threads in `pool`.
PuIntervals bootstrap_pu(const Ranking& r, std::optional<double> given_prior, int samples,
                         std::uint64_t seed, WorkerPool& pool);

// When the decision calls almost every unlabeled document positive, or almost no held-out
// positive, the figures say little about the classifier; the reason, or empty.
std::string degenerate_decision(const PuCounts& c);

}  // namespace punb::report
