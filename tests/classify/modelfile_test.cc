// The model file gives back every double it was given, to the last bit, in both modes, and the
// header fields that a reader trusts.
#include "nb/modelfile.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <random>

#include "classify/run.h"
#include "docfile/fatal.h"

namespace punb {
namespace {

// Probabilities of every kind: tiny, subnormal, just below 1, 1, and random ones.
SavedModel sample(RunMode mode, bool with_text) {
  SavedModel m;
  m.punb_version = "1.0";
  m.mode = mode;
  m.smoothing_weight = 1e-300;
  m.spy_fraction = 0.3;
  m.threshold_rate = std::nextafter(1.0, 0.0);
  m.iterations = 3;
  m.positive_documents = 10;
  m.unlabeled_documents = 20;
  if (mode == RunMode::positive_unlabeled) {
    m.selected = 2;
    m.spies = 3;
    m.reliable_negatives = 7;
    m.spy_threshold = 1.1;
    m.sequence = {{0.3, 0.0}, {0.1 + 0.2, 1.0 / 3}, {DBL_MIN, 1.0}, {1.0, 0.5}};
  }
  m.priors = {std::nextafter(0.5, 1.0), 0.1};
  const double special[] = {DBL_TRUE_MIN, DBL_MIN, 4.9e-324 * 3, std::nextafter(1.0, 0.0),
                            1.0,          1e-17,   0.1,          2.0 / 3};
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const std::uint32_t first = mode == RunMode::naive_bayes ? 1 : 0;
  for (std::uint32_t k = 0; k < 200; ++k) {
    m.indices.push_back(first + k * 2499);
    m.neg.push_back(k < std::size(special) ? special[k] : std::ldexp(unit(random), -(k % 60)));
    m.pos.push_back(k < std::size(special) ? special[std::size(special) - 1 - k]
                                           : unit(random) + 1e-300);
  }
  if (mode == RunMode::naive_bayes) m.feature_columns = 499999;
  if (with_text) {
    m.text.emplace();
    m.text->folded = false;
    m.text->min_length = 2;
    m.text->indices = {1, 7, 499999};
    m.text->words = {"straße", "a word with spaces", "花园"};
  }
  return m;
}

TEST(ModelFile, GivesBackEveryBitInBothModes) {
  for (RunMode mode : {RunMode::naive_bayes, RunMode::positive_unlabeled}) {
    for (bool with_text : {false, true}) {
      const SavedModel m = sample(mode, with_text);
      const std::string text = format_model_file(m);
      const SavedModel back = parse_model_file(text, "m");
      ASSERT_EQ(back.indices, m.indices);
      for (std::size_t k = 0; k < m.indices.size(); ++k) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(back.neg[k]),
                  std::bit_cast<std::uint64_t>(m.neg[k]));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(back.pos[k]),
                  std::bit_cast<std::uint64_t>(m.pos[k]));
      }
      EXPECT_EQ(back.priors.neg, m.priors.neg);
      EXPECT_EQ(back.priors.pos, m.priors.pos);
      EXPECT_EQ(back.smoothing_weight, m.smoothing_weight);
      EXPECT_EQ(back.threshold_rate, m.threshold_rate);
      EXPECT_EQ(back.spy_threshold, m.spy_threshold);
      EXPECT_EQ(back.selected, m.selected);
      EXPECT_EQ(back.reliable_negatives, m.reliable_negatives);
      ASSERT_EQ(back.sequence.size(), m.sequence.size());
      for (std::size_t t = 0; t < m.sequence.size(); ++t) {
        EXPECT_EQ(back.sequence[t].positive_prior, m.sequence[t].positive_prior);
        EXPECT_EQ(back.sequence[t].miss_rate, m.sequence[t].miss_rate);
      }
      EXPECT_EQ(back.feature_columns, m.feature_columns);
      EXPECT_EQ(back.text.has_value(), with_text);
      if (with_text) {
        EXPECT_EQ(back.text->words, m.text->words);
        EXPECT_EQ(back.text->indices, m.text->indices);
        EXPECT_EQ(back.text->folded, false);
        EXPECT_EQ(back.text->min_length, 2u);
      }
      EXPECT_EQ(format_model_file(back), text);
    }
  }
}

TEST(ModelFile, NamesTheClassifierAsTheRunPrintedIt) {
  SavedModel m = sample(RunMode::positive_unlabeled, false);
  EXPECT_EQ(m.classifier_name(), "Iteration 2");
  m.selected = 0;
  EXPECT_EQ(m.classifier_name(), "Naivebayes Result");
  EXPECT_NE(format_model_file(m).find("\nclassifier Naivebayes Result\nselected 0\n"),
            std::string::npos);
}

// Fields whose values a reader must refuse even under a good checksum: the model as saved would
// not be one a run can leave.
TEST(ModelFile, RefusesValuesNoRunLeaves) {
  struct Case {
    const char* name;
    void (*change)(SavedModel&);
    const char* message;
  };
  const Case cases[] = {
      {"selected_last", [](SavedModel& m) { m.selected = 3; }, "selected 3 is outside 0..2"},
      {"no_reliable_negative", [](SavedModel& m) { m.reliable_negatives = 0; },
       "reliable-negatives 0"},
      {"more_spies_than_positives", [](SavedModel& m) { m.spies = 10; },
       "spies 10 is outside 0..9"},
      {"short_sequence", [](SavedModel& m) { m.sequence.pop_back(); },
       "sequence 3 is outside 4..4"},
      {"miss_rate_above_one", [](SavedModel& m) { m.sequence[1].miss_rate = 1.5; },
       "miss rate 1.5"},
      {"spy_fraction_above_one", [](SavedModel& m) { m.spy_fraction = 2; },
       "spy-fraction 2 is not in 0..1"},
      {"weight_zero", [](SavedModel& m) { m.smoothing_weight = 0; },
       "smoothing-weight is not above 0"},
      {"word_probability_nan", [](SavedModel& m) { m.pos[5] = std::nan(""); }, "is not finite"},
      {"index_out_of_order", [](SavedModel& m) { std::swap(m.indices[3], m.indices[4]); },
       "is repeated or out of order"},
      {"text_word_repeated", [](SavedModel& m) { m.text->words[2] = m.text->words[0]; },
       "is repeated"},
      {"text_word_not_utf8", [](SavedModel& m) { m.text->words[1] = "caf\xc3"; }, "not UTF-8"},
      {"index_beyond_the_columns", [](SavedModel& m) { m.feature_columns = m.indices.back() - 1; },
       "lies beyond feature-columns"},
      {"text_index_zero", [](SavedModel& m) { m.text->indices[0] = 0; }, "word index 0 is outside"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SavedModel m = sample(RunMode::positive_unlabeled, true);
    c.change(m);
    try {
      parse_model_file(format_model_file(m), "m");
      ADD_FAILURE() << "accepted";
    } catch (const Fatal& e) {
      EXPECT_EQ(e.message(), kBadModelFile);
      EXPECT_NE(e.detail().find(c.message), std::string::npos) << e.detail();
      EXPECT_EQ(e.detail().rfind("m:", 0), 0u) << e.detail();
    }
  }
}

// The command line reads -s 0 and -i 0 as its defaults; a model fitted with those values (by the
// Python package) must not be described with them.
TEST(ModelFile, InfoSaysWhatOptionsTheCommandLineCannotGive) {
  struct Case {
    double spy_fraction;
    std::int32_t iterations;
    const char* options;
  };
  const Case cases[] = {
      {0.3, 3, "-l 1e-300 -s 0.3 -rt 0.9999999999999999 -i 3\n"},
      {0, 3, "-l 1e-300 -rt 0.9999999999999999 -i 3; spy fraction 0: no spies\n"},
      {0.3, 0,
       "-l 1e-300 -s 0.3 -rt 0.9999999999999999; iterations 0: no EM iteration, the first "
       "classifier only\n"},
      {0, 0,
       "-l 1e-300 -rt 0.9999999999999999; spy fraction 0: no spies; iterations 0: no EM "
       "iteration, the first classifier only\n"},
  };
  for (const Case& c : cases) {
    SavedModel m = sample(RunMode::positive_unlabeled, false);
    m.spy_fraction = c.spy_fraction;
    m.iterations = c.iterations;
    const std::string info = classify::describe_model(m, "m");
    EXPECT_NE(info.find("\noptions             " + std::string(c.options)), std::string::npos)
        << info;
  }
}

}  // namespace
}  // namespace punb
