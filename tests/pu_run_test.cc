// Positive-unlabeled mode end to end: the built binary in a scratch directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace punb {
namespace {

using test::count_lines;
using test::RunResult;
using test::TempDir;

// A small corpus whose classes overlap, so that the EM iterations have something to do.
struct Corpus {
  std::string pos, unlabeled, test;
};

Corpus make_corpus(int positives, int unlabeled, int tests) {
  std::uint32_t state = 12345;
  auto next = [&](std::uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % n;
  };
  auto document = [&](bool positive) {
    std::string d;
    const int words = 3 + static_cast<int>(next(6));
    for (int w = 0; w < words; ++w) {
      // Positive words 1..20, negative 21..40, and a shared 41..50 for a third of the words.
      std::uint32_t index = next(3) == 0 ? 41 + next(10) : 1 + next(20) + (positive ? 0 : 20);
      if (next(5) == 0) index = 1 + next(40);  // stray words blur the classes
      d += (w ? " " : "") + std::to_string(index) + ":" + std::to_string(1 + next(3));
    }
    return d + "\n";
  };
  Corpus c;
  for (int i = 0; i < positives; ++i) c.pos += document(true);
  for (int i = 0; i < unlabeled; ++i) c.unlabeled += document(next(10) < 3);
  for (int i = 0; i < tests; ++i) {
    const bool positive = next(2) == 0;
    c.test += (positive ? "1 " : "-1 ") + document(positive);
  }
  return c;
}

void write_corpus(const TempDir& dir, const Corpus& c) {
  dir.write("data.pos", c.pos);
  dir.write("data.unlabel", c.unlabeled);
  dir.write("data.test", c.test);
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

// A run-log section: probability lines, then the result block from the separator to the empty
// line.
struct Section {
  std::string probabilities;
  std::vector<std::string> block;
};

std::vector<Section> read_log(const std::string& log) {
  std::vector<Section> sections(1);
  for (const std::string& line : split_lines(log)) {
    Section& s = sections.back();
    if (s.block.empty() && line.rfind(std::string(52, '*'), 0) != 0) {
      s.probabilities += line;
      continue;
    }
    s.block.push_back(line);
    if (line == "\n") sections.emplace_back();
  }
  EXPECT_TRUE(sections.back().probabilities.empty() && sections.back().block.empty());
  sections.pop_back();
  return sections;
}

std::string console_block(const Section& s) {
  std::string text = "\n";
  for (std::size_t i = 1; i + 1 < s.block.size(); ++i) text += s.block[i];
  return text;
}

TEST(PositiveUnlabeledRun, LeavesTheSectionsFilesAndReportsThatBelongTogether) {
  const Corpus corpus = make_corpus(40, 120, 30);
  for (int iterations : {1, 3, 8}) {
    SCOPED_TRACE(iterations);
    TempDir dir;
    write_corpus(dir, corpus);
    const RunResult r =
        test::run_punb(dir, {"-kov", "-f", "data", "-i", std::to_string(iterations)});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");

    // Working files: 6 spies (40 * 0.15), the unlabeled set split in two.
    EXPECT_EQ(count_lines(dir.read("spy")), 6u);
    EXPECT_EQ(count_lines(dir.read("pos_withoutspy")), 34u);
    EXPECT_EQ(dir.read("spy").size() + dir.read("pos_withoutspy").size(), corpus.pos.size());
    const std::string reliable = dir.read("truetrain1matrix0");
    const std::string remaining = dir.read("unlabelmatrix0");
    EXPECT_EQ(count_lines(reliable) + count_lines(remaining), 120u);
    EXPECT_GT(count_lines(reliable), 0u);
    for (const std::string& line : split_lines(reliable + remaining)) {
      EXPECT_NE(corpus.unlabeled.find(line), std::string::npos) << line;
    }

    // One section per classifier, each with one probability line per test document.
    const std::vector<Section> sections = read_log(dir.read("data.log"));
    ASSERT_EQ(sections.size(), static_cast<std::size_t>(iterations) + 1);
    std::string console;
    for (std::size_t s = 0; s < sections.size(); ++s) {
      EXPECT_EQ(count_lines(sections[s].probabilities), 30u);
      ASSERT_EQ(sections[s].block.size(), 7u);
      EXPECT_EQ(sections[s].block[1],
                s == 0 ? "************< Naivebayes Result > *************\n"
                       : "************<  Iteration " + std::to_string(s) + " > *************\n");
      console += console_block(sections[s]);
    }

    // The final result is one of the sections, never the last iteration's (with one
    // iteration, that leaves the first classifier).
    const std::string output = dir.read("data.output");
    std::size_t selected = sections.size();
    for (std::size_t s = 0; s + 1 < sections.size(); ++s) {
      if (sections[s].probabilities == output) selected = s;
    }
    ASSERT_LT(selected, sections.size() - 1) << "no section matches the result file";
    console += "\n************<  The Final Result > *************\n" +
               console_block(sections[selected]).substr(1);
    EXPECT_EQ(r.out, console);
  }
}

TEST(PositiveUnlabeledRun, DocumentScoringExactlyAtTheThresholdIsAReliableNegative) {
  TempDir dir;
  // Ten equal positives and one spy among them (k = 1, so the threshold is its posterior);
  // unlabeled copies of it score the same, to the last bit.
  std::string pos;
  for (int i = 0; i < 10; ++i) pos += "1:2 2:1\n";
  write_corpus(dir, {pos, "1:2 2:1\n3:4\n1:2 2:1\n1:9\n3:1 4:1\n", "1 1:1\n-1 3:1\n"});
  const RunResult r = test::run_punb(dir, {"-kov", "-f", "data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(dir.read("spy"), "1:2 2:1\n");
  const std::string reliable = dir.read("truetrain1matrix0");
  EXPECT_EQ(reliable.find("1:2 2:1\n"), 0u) << reliable;
  EXPECT_NE(reliable.find("1:2 2:1\n", 1), std::string::npos) << reliable;
  EXPECT_EQ(dir.read("unlabelmatrix0").find("1:2"), std::string::npos);
}

TEST(PositiveUnlabeledRun, SameInputsGiveTheSameBytes) {
  const Corpus corpus = make_corpus(30, 50, 20);
  std::vector<std::string> runs;
  for (int i = 0; i < 2; ++i) {
    TempDir dir;
    write_corpus(dir, corpus);
    const RunResult r = test::run_punb(dir, {"-kov", "-f", "data", "-s", "0.3", "-rt", "0.2"});
    runs.push_back(r.out + dir.read("data.log") + dir.read("data.output") + dir.read("spy") +
                   dir.read("unlabelmatrix0"));
  }
  EXPECT_EQ(runs[0], runs[1]);
}

struct FailureCase {
  const char* name;
  std::vector<std::string> args;
  std::string pos, unlabeled, test;   // "-": missing
  std::vector<std::string> blockers;  // names made directories before the run
  std::string out;                    // the end of standard output
  std::vector<std::string> files;     // files that must exist afterwards
  std::vector<std::string> absent;    // files that must not
  const char* detail;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class PositiveUnlabeledFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(PositiveUnlabeledFailures, StopInTheOrderOfTheSteps) {
  const FailureCase& c = GetParam();
  TempDir dir;
  for (auto [name, text] :
       {std::pair{"data.pos", &c.pos}, {"data.unlabel", &c.unlabeled}, {"data.test", &c.test}}) {
    if (*text != "-") dir.write(name, *text);
  }
  for (const std::string& b : c.blockers) std::filesystem::create_directory(dir.path(b));
  const RunResult r = test::run_punb(dir, c.args);
  EXPECT_EQ(r.status, 1);
  ASSERT_GE(r.out.size(), c.out.size());
  EXPECT_EQ(r.out.substr(r.out.size() - c.out.size()), c.out) << r.out;
  EXPECT_NE(r.err.find(c.detail), std::string::npos) << r.err;
  for (const std::string& f : c.files) EXPECT_TRUE(dir.exists(f)) << f;
  for (const std::string& f : c.absent) EXPECT_FALSE(dir.exists(f)) << f;
}

const std::vector<std::string> kRun = {"-kov", "-f", "data"};
const Corpus kSmall = make_corpus(20, 30, 10);
const std::string kTenPositives = "1:1\n2:1\n1:2\n3:1\n1:1 2:1\n4:1\n1:3\n2:2\n5:1\n1:1\n";

INSTANTIATE_TEST_SUITE_P(Paths, PositiveUnlabeledFailures,
                         ::testing::Values(FailureCase{"run_log_cannot_be_created",
                                                       {"-kov", "-f", "nodir/data"},
                                                       kSmall.pos,
                                                       kSmall.unlabeled,
                                                       kSmall.test,
                                                       {},
                                                       "can not read training set",
                                                       {},
                                                       {"spy"},
                                                       "nodir/data.log"},
                                           FailureCase{"positive_set_missing",
                                                       kRun,
                                                       "-",
                                                       kSmall.unlabeled,
                                                       kSmall.test,
                                                       {},
                                                       "can not read training set",
                                                       {"data.log"},
                                                       {"spy"},
                                                       "data.pos"},
                                           FailureCase{"empty_positive_set",
                                                       kRun,
                                                       "",
                                                       kSmall.unlabeled,
                                                       kSmall.test,
                                                       {},
                                                       "empty positive set",
                                                       {"data.log", "spy", "pos_withoutspy"},
                                                       {},
                                                       "data.pos"},
                                           FailureCase{"every_positive_a_spy",
                                                       {"-kov", "-f", "data", "-s", "1"},
                                                       kSmall.pos,
                                                       kSmall.unlabeled,
                                                       kSmall.test,
                                                       {},
                                                       "no positive documents besides the spies",
                                                       {"spy", "pos_withoutspy"},
                                                       {"unlabelmatrix0"},
                                                       "spy fraction"},
                                           FailureCase{"spy_file_blocked",
                                                       kRun,
                                                       kSmall.pos,
                                                       kSmall.unlabeled,
                                                       kSmall.test,
                                                       {"spy"},
                                                       "write error new file",
                                                       {"data.log"},
                                                       {"pos_withoutspy"},
                                                       "spy:"},
                                           FailureCase{"rest_file_blocked",
                                                       kRun,
                                                       kSmall.pos,
                                                       kSmall.unlabeled,
                                                       kSmall.test,
                                                       {"pos_withoutspy"},
                                                       "write error new file",
                                                       {"spy"},
                                                       {},
                                                       "pos_withoutspy:"},
                                           FailureCase{"unlabeled_set_missing",
                                                       kRun,
                                                       kSmall.pos,
                                                       "-",
                                                       kSmall.test,
                                                       {},
                                                       "can not read training set",
                                                       {"spy", "pos_withoutspy"},
                                                       {"unlabelmatrix0"},
                                                       "data.unlabel"},
                                           FailureCase{"no_negative_documents_at_all",
                                                       kRun,
                                                       "1:1\n2:1\n3:1\n",
                                                       "",
                                                       kSmall.test,
                                                       {},
                                                       "empty unlabeled set",
                                                       {"spy"},
                                                       {"unlabelmatrix0"},
                                                       "data.unlabel"},
                                           FailureCase{"remaining_file_blocked",
                                                       kRun,
                                                       kSmall.pos,
                                                       kSmall.unlabeled,
                                                       kSmall.test,
                                                       {"unlabelmatrix0"},
                                                       "can not write unlabelmatrix",
                                                       {},
                                                       {"truetrain1matrix0"},
                                                       "unlabelmatrix0:"},
                                           FailureCase{"reliable_file_blocked",
                                                       kRun,
                                                       kSmall.pos,
                                                       kSmall.unlabeled,
                                                       kSmall.test,
                                                       {"truetrain1matrix0"},
                                                       "can not write file truetrain1matrix",
                                                       {"unlabelmatrix0"},
                                                       {},
                                                       "truetrain1matrix0:"},
                                           FailureCase{"no_reliable_negatives",
                                                       kRun,
                                                       kTenPositives,
                                                       "",
                                                       kSmall.test,
                                                       {},
                                                       "no reliable negatives",
                                                       {"truetrain1matrix0", "unlabelmatrix0"},
                                                       {},
                                                       "round 0"},
                                           FailureCase{"test_set_missing",
                                                       kRun,
                                                       kSmall.pos,
                                                       kSmall.unlabeled,
                                                       "-",
                                                       {},
                                                       "can not read test set",
                                                       {"truetrain1matrix0", "data.log"},
                                                       {"data.output"},
                                                       "data.test"},
                                           FailureCase{"bad_label",
                                                       kRun,
                                                       kSmall.pos,
                                                       kSmall.unlabeled,
                                                       "1 1:1\n-1 2:1\n0 3:1\n",
                                                       {},
                                                       "test set: Data Format Error!!!",
                                                       {"data.log"},
                                                       {"data.output"},
                                                       "data.test:3: label 0"},
                                           FailureCase{"result_file_blocked",
                                                       kRun,
                                                       kSmall.pos,
                                                       kSmall.unlabeled,
                                                       kSmall.test,
                                                       {"data.output"},
                                                       "can not write prob_result.txt",
                                                       {"data.log"},
                                                       {},
                                                       "data.output:"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PositiveUnlabeledRun, SettingsWithoutADefinedResultAreUsageErrors) {
  const std::pair<const char*, const char*> settings[] = {
      {"-s", "1.5"}, {"-rt", "-0.1"}, {"-i", "-3"}, {"-l", "-2"}, {"-l", "nan"}};
  for (auto [option, value] : settings) {
    TempDir dir;
    write_corpus(dir, kSmall);
    const RunResult r = test::run_punb(dir, {"-kov", "-f", "data", option, value});
    EXPECT_EQ(r.status, 2) << option << " " << value;
    EXPECT_EQ(r.out, "parameter format error!\n");
    EXPECT_FALSE(dir.exists("data.log"));
  }
}

TEST(PositiveUnlabeledRun, ProbabilityLinesBeforeABadLabelStayInTheLog) {
  TempDir dir;
  write_corpus(dir, {kSmall.pos, kSmall.unlabeled, "1 1:1\n-1 2:1\n0 3:1\n"});
  test::run_punb(dir, kRun);
  const std::string log = dir.read("data.log");
  EXPECT_EQ(count_lines(log), 2u);
  EXPECT_EQ(log.find('*'), std::string::npos);
}

TEST(PositiveUnlabeledRun, FullDiskIsAFailureNotASuccess) {
  for (const char* name : {"data.log", "data.output", "spy", "unlabelmatrix0"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    write_corpus(dir, kSmall);
    std::filesystem::create_symlink("/dev/full", dir.path(name));
    const RunResult r = test::run_punb(dir, kRun);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("The Final Result"), std::string::npos);
  }
}

}  // namespace
}  // namespace punb
