#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "docfile/workpool.h"
#include "nb/model.h"
#include "nb/score.h"

namespace punb {

enum class RunMode : std::uint8_t { naive_bayes, positive_unlabeled };

// One classifier of a positive-unlabeled run's sequence, as the final selection read it.
struct SequenceEntry {
  double positive_prior = 0.0;
  double miss_rate = 0.0;  // the share of positive documents it classifies as negative
};

// The words of punb-vectorize's vocabulary, so that new text is numbered as the training text was.
struct TextVocabulary {
  bool folded = true;
  std::uint64_t min_length = 1;
  std::vector<std::uint32_t> indices;  // increasing; words[k] is the word of indices[k]
  std::vector<std::string> words;
};

// A trained classifier as a run leaves it: the numbers that scoring uses, and what a reader needs
// to trust them.
struct SavedModel {
  std::string punb_version;
  RunMode mode = RunMode::naive_bayes;
  double smoothing_weight = 0.1;
  double spy_fraction = 0.15;
  double threshold_rate = 0.1;
  std::int32_t iterations = 8;
  std::int64_t selected = 0;  // positive-unlabeled mode: 0 the first classifier, t iteration t
  std::int64_t positive_documents = 0;
  std::int64_t unlabeled_documents = 0;
  // Positive-unlabeled mode only.
  std::int64_t spies = 0;
  std::int64_t reliable_negatives = 0;
  double spy_threshold = 0.0;
  std::vector<SequenceEntry> sequence;  // entries 0 .. T
  // The columns of the matrix a model from the Python package was fitted on (column j is index
  // j + 1); a run of the command line has none.
  std::optional<std::int64_t> feature_columns;

  Priors priors;
  std::vector<std::uint32_t> indices;  // the vocabulary, increasing
  std::vector<double> neg;             // word probabilities, one per entry of `indices`
  std::vector<double> pos;
  std::optional<TextVocabulary> text;

  // As the run printed it: "Iteration 4", "Naivebayes Result" (the first classifier), or
  // "naive Bayes model" in naive Bayes mode.
  std::string classifier_name() const;
};

// Keeps the word probabilities of the vocabulary's indices.
void keep_words(const Model& model, const VocabularyMask& mask, const Vocabulary& vocab,
                SavedModel& saved);

// The model file: text, one field a line, the numbers in their shortest exact form, and a last
// line with a checksum of everything before it.
std::string format_model_file(const SavedModel& model);

// Reads a model file back; anything that is not a whole, undamaged model file ends the run with
// kBadModelFile and the path and line.
SavedModel parse_model_file(std::string_view text, const std::string& path);
SavedModel read_model_file(const std::string& path);

inline constexpr const char* kBadModelFile = "bad model file";
inline constexpr const char* kCannotWriteModel = "can not write model file";

// A saved model made ready to score documents: its vocabulary mask and its logarithms.
class Classifier {
 public:
  explicit Classifier(const SavedModel& saved, WorkerPool* pool = nullptr);
  const VocabularyMask& mask() const { return mask_; }
  const ScoreTable& table() const { return table_; }

 private:
  static Model unpack(const SavedModel& saved, VocabularyMask& mask, Vocabulary& vocab);
  VocabularyMask mask_;
  Vocabulary vocab_;
  ScoreTable table_;
};

}  // namespace punb
