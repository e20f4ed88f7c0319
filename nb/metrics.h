#pragma once

#include <cstdint>
#include <string>

#include "docfile/outfile.h"
#include "nb/score.h"
#include "peers/peers.h"

namespace punb {

struct EvaluationCounters {
  std::int64_t test_positives = 0;
  std::int64_t test_negatives = 0;
  double predicted_positives = 0;
  double true_positives = 0;
  double true_negatives = 0;

  void count_label(std::int32_t label) { (label == 1 ? test_positives : test_negatives) += 1; }
  void count_decision(std::int32_t label, bool predicted_positive) {
    if (predicted_positive) {
      predicted_positives += 1;
      if (label == 1) true_positives += 1;
    } else if (label == -1) {
      true_negatives += 1;
    }
  }
};

// Every process's counts added up, in every process: whole numbers, exact in any order.
inline void add_up(EvaluationCounters& c, Peers& peers) {
  std::int64_t n[] = {
      c.test_positives, c.test_negatives, static_cast<std::int64_t>(c.predicted_positives),
      static_cast<std::int64_t>(c.true_positives), static_cast<std::int64_t>(c.true_negatives)};
  peers.sum(n);
  c = {n[0], n[1], static_cast<double>(n[2]), static_cast<double>(n[3]), static_cast<double>(n[4])};
}

// The four report lines, each ending in a line end. `recall` holds the no-positives line when
// the test set has no positive document.
struct ReportLines {
  std::string recall;
  std::string precision;
  std::string f_measure;
  std::string accuracy;
};

ReportLines report_lines(const EvaluationCounters& counters);

// Writes a scored test document's probability line and counts its decision.
inline void record_test_document(std::int32_t label, const Posteriors& post, OutFile& out,
                                 EvaluationCounters& counters) {
  char* at = out.room(kProbabilityLineMax);
  out.advance(static_cast<std::size_t>(format_probability_line(post.pos, at) - at));
  counters.count_decision(label, post.positive());
}

}  // namespace punb
