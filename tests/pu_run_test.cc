// Positive-unlabeled mode end to end: the built binary in a scratch directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace punb {
namespace {

using test::Corpus;
using test::count_lines;
using test::make_corpus;
using test::RunResult;
using test::TempDir;
using test::write_corpus;

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
  const struct {
    int iterations;
    std::string test;
  } runs[] = {{1, corpus.test}, {3, corpus.test}, {8, corpus.test}, {8, ""}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.iterations);
    SCOPED_TRACE(run.test.size());
    TempDir dir;
    write_corpus(dir, {corpus.pos, corpus.unlabeled, run.test});
    const RunResult r =
        test::run_punb(dir, {"-kov", "-f", "data", "-i", std::to_string(run.iterations)});
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
    ASSERT_EQ(sections.size(), static_cast<std::size_t>(run.iterations) + 1);
    std::string console;
    for (std::size_t s = 0; s < sections.size(); ++s) {
      EXPECT_EQ(count_lines(sections[s].probabilities), count_lines(run.test));
      ASSERT_EQ(sections[s].block.size(), 7u);
      EXPECT_EQ(sections[s].block[1],
                s == 0 ? "************< Naivebayes Result > *************\n"
                       : "************<  Iteration " + std::to_string(s) + " > *************\n");
      console += console_block(sections[s]);
    }

    // The final result is one of the sections, never the last iteration's (with one
    // iteration, that leaves the first classifier): its probability lines in the result file
    // and its block under the banner.
    const std::string output = dir.read("data.output");
    bool found = false;
    for (std::size_t s = 0; s + 1 < sections.size(); ++s) {
      found |= sections[s].probabilities == output &&
               r.out == console + "\n************<  The Final Result > *************\n" +
                            console_block(sections[s]).substr(1);
    }
    EXPECT_TRUE(found) << r.out;
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

}  // namespace
}  // namespace punb
