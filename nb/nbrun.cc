#include "nb/nbrun.h"

#include <utility>
#include <vector>

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/reader.h"
#include "nb/metrics.h"
#include "nb/model.h"
#include "nb/score.h"
#include "nb/testread.h"

namespace punb {

namespace {

// Naive Bayes mode counts from index 1: index 0 is not a word here.
constexpr std::int32_t kLowestCountedIndex = 1;

// Counts a file's pairs a line (or, for very long lines, a few thousand pairs) at a time: the
// table updates then run back to back, where the processor overlaps their cache misses, rather
// than strung out between parsing steps. Their order is the file's.
std::int64_t count_training_file(const std::string& path, CountTable& table, VocabularyMask& mask) {
  constexpr std::size_t kBatch = 4096;
  DocumentParser parser(path, kCannotReadTrainingSet, false);
  const DocumentCounter counter{table.data(), mask.data(), kLowestCountedIndex};
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  auto count_all = [&] {
    for (const auto& [index, count] : pairs) counter(index, count);
    pairs.clear();
  };
  auto collect = [&](std::int32_t index, std::int32_t count) {
    pairs.emplace_back(index, count);
    if (pairs.size() == kBatch) count_all();
  };
  std::int64_t lines = 0;
  while (parser.next(collect)) {
    count_all();
    ++lines;
  }
  return lines;
}

void refuse_degenerate_training(const RunFiles& files, std::int64_t positives,
                                std::int64_t unlabeled, const Vocabulary& vocab) {
  if (positives == 0) {
    throw Fatal("empty positive set",
                files.positive + ": no documents, so the positive prior is 0");
  }
  if (unlabeled == 0) {
    throw Fatal("empty unlabeled set",
                files.unlabeled + ": no documents, so the negative prior is 0");
  }
  if (vocab.size == 0) {
    throw Fatal("no features in training set",
                "the training documents hold no feature index from 1 to 499999");
  }
}

}  // namespace

int naive_bayes_mode_run(double lambda, const RunFiles& files) {
  OutFile result(files.result, kCannotWriteResult);

  CountTable pos(kTableSize);
  CountTable neg(kTableSize);
  VocabularyMask mask(kIndexCount);
  const std::int64_t positives = count_training_file(files.positive, pos, mask);
  const std::int64_t unlabeled = count_training_file(files.unlabeled, neg, mask);

  const Vocabulary vocab = measure_vocabulary(mask);
  refuse_degenerate_training(files, positives, unlabeled, vocab);
  Model model;
  model.priors = priors_from_documents(static_cast<double>(unlabeled),
                                       static_cast<double>(positives + unlabeled));
  model.neg = used_counts(neg, vocab);
  model.pos = used_counts(pos, vocab);
  smooth_word_counts(model.neg, lambda, vocab);
  smooth_word_counts(model.pos, lambda, vocab);
  const ScoreTable table(model, mask, vocab);

  EvaluationCounters counters;
  DocumentParser test(files.test, kCannotReadTestSet, true);
  std::int32_t label = 0;
  for (;;) {
    ClassScores scores(table);
    auto score_word = [&](std::int32_t index, std::int32_t count) {
      if (mask[index] == 1)
        scores.add_word(static_cast<std::uint32_t>(count), table.ln_words(index));
    };
    if (!test.next(score_word, &label)) break;
    counters.count_label(label);
    record_test_document(label, scores.posteriors(), result, counters);
  }
  // Closed before the report, so that a result file the disk could not take never comes with
  // figures that look like a finished run.
  result.close();

  const ReportLines lines = report_lines(counters);
  print("\n" + lines.recall + lines.precision + lines.f_measure + lines.accuracy);
  return 0;
}

}  // namespace punb
