#include "nb/nbrun.h"

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/reader.h"
#include "nb/metrics.h"
#include "nb/model.h"
#include "nb/score.h"

namespace punb {

namespace {

// Naive Bayes mode counts from index 1: index 0 is not a word here.
constexpr std::int32_t kLowestCountedIndex = 1;

std::int64_t count_training_file(const std::string& path, std::vector<double>& table,
                                 VocabularyMask& mask) {
  DocumentParser parser(path, kCannotReadTrainingSet, false);
  DocumentCounter counter{table.data(), mask.data(), kLowestCountedIndex};
  std::int64_t lines = 0;
  while (parser.next(counter)) ++lines;
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

  std::vector<double> pos(kTableSize, 0.0);
  std::vector<double> neg(kTableSize, 0.0);
  VocabularyMask mask(kIndexCount, 0);
  const std::int64_t positives = count_training_file(files.positive, pos, mask);
  const std::int64_t unlabeled = count_training_file(files.unlabeled, neg, mask);

  const Vocabulary vocab = measure_vocabulary(mask);
  refuse_degenerate_training(files, positives, unlabeled, vocab);
  Model model;
  model.priors = priors_from_documents(static_cast<double>(unlabeled),
                                       static_cast<double>(positives + unlabeled));
  smooth_word_counts(neg, lambda, vocab);
  smooth_word_counts(pos, lambda, vocab);
  model.neg = std::move(neg);
  model.pos = std::move(pos);
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
