#include "vectorize/options.h"

#include <gtest/gtest.h>

#include "docfile/workpool.h"

namespace punb::vectorize {
namespace {

using namespace words;

using Args = std::vector<std::string>;

TEST(Options, ReadsSetsAndSettings) {
  const Options o =
      parse_options({"--test-neg", "n1",           "-o",         "out",          "--pos",
                     "p1",         "p2",           "--test-pos", "t1",           "--unlabel=u1",
                     "u2",         "--min-df",     "2",          "--max-df=0.5", "--max-words",
                     "10",         "--min-length", "3",          "--no-fold",    "--stop-words",
                     "english",    "-j",           "3"});
  EXPECT_EQ(o.stem, "out");
  const std::vector<std::pair<std::string, int>> expected = {{"p1", 0}, {"p2", 0},  {"u1", 0},
                                                             {"u2", 0}, {"n1", -1}, {"t1", 1}};
  ASSERT_EQ(o.inputs.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(o.inputs[i].path, expected[i].first);
    EXPECT_EQ(o.inputs[i].label, expected[i].second);
  }
  EXPECT_EQ(o.inputs[2].set, SetKind::unlabeled);
  EXPECT_EQ(o.limits.min_documents, 2u);
  EXPECT_EQ(o.limits.max_share, 0.5);
  EXPECT_EQ(o.limits.max_words, 10u);
  EXPECT_EQ(o.words.min_length, 3u);
  EXPECT_FALSE(o.words.fold);
  EXPECT_EQ(o.words.stop_words, "english");
  EXPECT_EQ(o.threads, 3);
}

TEST(Options, DefaultsAndTheVocabularyMode) {
  const Options o = parse_options({"-o", "s", "--pos", "p", "--unlabel", "u"});
  EXPECT_TRUE(o.words.fold);
  EXPECT_EQ(o.words.min_length, 1u);
  EXPECT_EQ(o.limits.min_documents, 1u);
  EXPECT_EQ(o.limits.max_share, 1.0);
  EXPECT_EQ(o.limits.max_words, kMaxIndex);
  EXPECT_EQ(o.threads, default_thread_count());
  EXPECT_FALSE(o.holdout);
  EXPECT_EQ(o.seed, 1u);
  const Options h =
      parse_options({"-o", "s", "--pos", "p", "--unlabel", "u", "--holdout", "0", "--seed", "0"});
  EXPECT_EQ(h.holdout, 0.0);
  EXPECT_EQ(h.seed, 0u);
  EXPECT_EQ(parse_options({"-o", "s", "--pos", "p", "--unlabel", "u", "-j", "0"}).threads,
            default_thread_count());
  // Any count is taken, as punb takes it; no more than the cap are used.
  EXPECT_EQ(parse_options({"-o", "s", "--pos", "p", "--unlabel", "u", "-j", "2147483647"}).threads,
            static_cast<int>(kMaxThreads));
  EXPECT_EQ(parse_options({"-o", "s", "--vocab", "v", "--test-pos", "t"}).vocabulary_file, "v");
  EXPECT_TRUE(parse_options({"--help"}).help);
}

TEST(Options, RefusesCommandLinesThatCannotRun) {
  const Args base = {"-o", "s", "--pos", "p", "--unlabel", "u"};
  const std::vector<Args> extra = {
      {"-j", "-1"},
      {"-j", "x"},
      {"-j", "2147483648"},
      {"--min-df", "0"},
      {"--min-df", "1.5"},
      {"--max-df", "0"},
      {"--max-df", "1.01"},
      {"--max-df", "nan"},
      {"--max-words", "0"},
      {"--max-words", "500000"},
      {"--min-length", "0"},
      {"--frobnicate"},
      {"--pos"},
      {"--test-neg", "-j", "1"},
      {"--min-df"},
      {"--stop-words", ""},
      {"--pos="},
      {"--holdout", "1.01"},
      {"--holdout", "-0.1"},
      {"--holdout", "nan"},
      {"--holdout", "0.5", "--seed", "-1"},
      {"--seed", "1"},
  };
  for (const Args& e : extra) {
    Args args = base;
    args.insert(args.end(), e.begin(), e.end());
    EXPECT_THROW(parse_options(args), UsageError) << e[0];
  }
  const std::vector<Args> incomplete = {
      {"--pos", "p", "--unlabel", "u"},
      {"stray", "-o", "s", "--pos", "p", "--unlabel", "u"},
      {"-o", "s", "--pos", "p"},
      {"-o", "s", "--unlabel", "u"},
      {"-o", "s", "--vocab", "v"},
      {"-o", "s", "--vocab", "v", "--pos", "p", "--min-df", "2"},
      {"-o", "s", "--vocab", "v", "--pos", "p", "--max-words", "2"},
      {"-o", "", "--pos", "p", "--unlabel", "u"},
      {"-o", "s", "--vocab", "v", "--test-pos", "t", "--holdout", "0.5"},
  };
  for (const Args& args : incomplete) EXPECT_THROW(parse_options(args), UsageError) << args[1];
}

}  // namespace
}  // namespace punb::vectorize
