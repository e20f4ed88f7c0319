#include "app/options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace punb {
namespace {

struct Expected {
  Mode mode;
  std::string positive_name;
  double lambda = 0.1;
  double spy = 0.15;
  double rate = 0.1;
  int iterations = 8;
  int threads = 0;  // 0: the default, as many as the CPUs
  std::optional<std::string> model = std::nullopt;
};

struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  std::optional<Expected> expected;  // nullopt: the usage error
};

void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.name; }

class OptionTable : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionTable, Scan) {
  const OptionCase& c = GetParam();
  if (!c.expected) {
    EXPECT_THROW(scan_options(c.args), UsageError);
    return;
  }
  const Options o = scan_options(c.args);
  EXPECT_EQ(o.mode, c.expected->mode);
  EXPECT_EQ(o.files.positive, c.expected->positive_name);
  EXPECT_EQ(o.smoothing_weight, c.expected->lambda);
  EXPECT_EQ(o.spy_fraction, c.expected->spy);
  EXPECT_EQ(o.threshold_rate, c.expected->rate);
  EXPECT_EQ(o.iterations, c.expected->iterations);
  EXPECT_EQ(o.threads, c.expected->threads);
  EXPECT_EQ(o.model, c.expected->model);
}

constexpr Mode NB = Mode::naive_bayes;
constexpr Mode PU = Mode::positive_unlabeled;

// clang-format off
INSTANTIATE_TEST_SUITE_P(CommandLines, OptionTable,
    ::testing::Values(
    OptionCase{"nothing", {}, std::nullopt},
    OptionCase{"mode_alone_has_empty_names", {"-nb"}, Expected{NB, ""}},
    OptionCase{"stem_without_mode", {"-f", "data"}, std::nullopt},
    OptionCase{"value_option_last", {"-nb", "-f"}, std::nullopt},
    OptionCase{"defaults", {"-nb", "-f", "data"}, Expected{NB, "data.pos"}},
    OptionCase{"upper_case_forms", {"-KOV", "-F", "d", "-S", "0.3"}, Expected{PU, "d.pos", 0.1, 0.3}},
    OptionCase{"zero_and_garbage_take_defaults", {"-kov", "-f", "d", "-l", "0", "-s", "abc", "-rt", "0.0", "-i", "0"}, Expected{PU, "d.pos"}},
    OptionCase{"values_read_like_atof_and_atoi", {"-kov", "-f", "d", "-l", " 2.5e-1x", "-s", "0.3abc", "-i", "12.7"}, Expected{PU, "d.pos", 0.25, 0.3, 0.1, 12}},
    OptionCase{"ignored_option_consumes_its_value", {"-kov", "-f", "d", "-e", "7"}, Expected{PU, "d.pos"}},
    OptionCase{"unknown_words_skipped", {"-x", "3", "-r", "-nb", "-f", "d"}, Expected{NB, "d.pos"}},
    OptionCase{"prefix_matches", {"-nbayes", "-file", "d", "-lambda", "0.5", "-iter", "3", "-rtx", "0.2"}, Expected{NB, "d.pos", 0.5, 0.15, 0.2, 3}},
    OptionCase{"case_matters", {"-Nb", "-f", "d"}, std::nullopt},
    OptionCase{"value_may_look_like_an_option", {"-f", "-nb"}, std::nullopt},
    OptionCase{"stem_beginning_with_space", {"-nb", "-f", " d"}, std::nullopt},
    OptionCase{"last_mode_wins", {"-nb", "-kov", "-f", "d"}, Expected{PU, "d.pos"}},
    OptionCase{"repeated_stem_replaces", {"-nb", "-f", "a", "-f", "b"}, Expected{NB, "b.pos"}},
    OptionCase{"long_stem", {"-nb", "-f", std::string(3000, 'a')}, Expected{NB, std::string(3000, 'a') + ".pos"}},
    OptionCase{"fraction_and_rate_may_be_one", {"-kov", "-f", "d", "-s", "1", "-rt", "1"}, Expected{PU, "d.pos", 0.1, 1.0, 1.0}},
    OptionCase{"infinite_weight", {"-nb", "-f", "d", "-l", "inf"}, std::nullopt},
    OptionCase{"iterations_beyond_32_bits", {"-kov", "-f", "d", "-i", "99999999999"}, std::nullopt},
    OptionCase{"threads_read_like_atoi", {"-kov", "-f", "d", "-j", "3x", "-jobs", "7.9"}, Expected{PU, "d.pos", 0.1, 0.15, 0.1, 8, 7}},
    OptionCase{"threads_zero_or_garbage_default", {"-nb", "-f", "d", "-j", "4", "-j", "none"}, Expected{NB, "d.pos"}},
    OptionCase{"threads_negative", {"-nb", "-f", "d", "-j", "-1"}, std::nullopt},
    OptionCase{"threads_last", {"-nb", "-f", "d", "-j"}, std::nullopt},
    OptionCase{"model_takes_the_next_argument", {"--model", "-nb", "-kov", "-f", "d", "--model", "m"}, Expected{PU, "d.pos", 0.1, 0.15, 0.1, 8, 0, "m"}},
    OptionCase{"model_may_be_empty", {"-nb", "-f", "d", "--model", ""}, Expected{NB, "d.pos", 0.1, 0.15, 0.1, 8, 0, ""}},
    OptionCase{"model_last", {"-nb", "-f", "d", "--model"}, std::nullopt},
    OptionCase{"help_among_others_is_a_word", {"--help", "-nb", "-f", "d", "--version"}, Expected{NB, "d.pos"}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace punb
