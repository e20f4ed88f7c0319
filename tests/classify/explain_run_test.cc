// punb-classify --words and --explain against an account made here from the model file's
// probabilities and the documents' pairs, with every other option; the warning for a labelled
// file read without --labeled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "nb/modelfile.h"
#include "test_support.h"

namespace punb::test {
namespace {

std::vector<std::string> split(const std::string& text, char at) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t end; (end = text.find(at, from)) != std::string::npos; from = end + 1)
    parts.push_back(text.substr(from, end - from));
  parts.push_back(text.substr(from));
  return parts;
}

std::string formatted(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// What the model file says of its words.
struct ModelWords {
  std::vector<std::uint32_t> indices;  // increasing
  std::map<std::uint32_t, double> weight;
  std::map<std::uint32_t, std::string> names;
  double prior_ratio = 0;

  explicit ModelWords(const std::string& path) {
    const SavedModel m = read_model_file(path);
    indices = m.indices;
    for (std::size_t k = 0; k < m.indices.size(); ++k)
      weight[m.indices[k]] = std::log(m.pos[k]) - std::log(m.neg[k]);
    if (m.text)
      for (std::size_t k = 0; k < m.text->indices.size(); ++k)
        names[m.text->indices[k]] = m.text->words[k];
    prior_ratio = std::log(m.priors.pos) - std::log(m.priors.neg);
  }
  std::string name(std::uint32_t index) const {
    const auto it = names.find(index);
    return it == names.end() ? std::to_string(index) : it->second;
  }

  // --words K.
  std::string strongest(std::size_t k) const {
    std::vector<std::uint32_t> order = indices;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return weight.at(a) > weight.at(b); });
    const std::size_t top = std::min(k, order.size());
    std::stable_sort(order.begin() + static_cast<std::ptrdiff_t>(top), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return weight.at(a) < weight.at(b); });
    std::string out;
    for (std::size_t j = 0; j < top + std::min(k, order.size() - top); ++j)
      out += formatted("%+.6f", weight.at(order[j])) + "\t" + name(order[j]) + "\n";
    return out;
  }

  // The contributions of the words of a plain document line (a test line when `labeled`).
  std::vector<std::pair<std::uint32_t, double>> contributions(const std::string& line,
                                                              bool labeled) const {
    std::map<std::uint32_t, std::uint64_t> totals;
    std::vector<std::string> pairs = split(line, ' ');
    if (labeled) pairs.erase(pairs.begin());
    for (const std::string& p : pairs) {
      if (p.empty()) continue;
      const auto index = static_cast<std::uint32_t>(std::stoul(p.substr(0, p.find(':'))));
      const std::uint64_t count = std::stoull(p.substr(p.find(':') + 1));
      if (weight.count(index) && count > 0) totals[index] += count;
    }
    std::vector<std::pair<std::uint32_t, double>> c;
    for (const auto& [index, total] : totals)
      c.emplace_back(index, static_cast<double>(total) * weight.at(index));
    std::stable_sort(c.begin(), c.end(), [](const auto& a, const auto& b) {
      return std::fabs(a.second) > std::fabs(b.second);
    });
    return c;
  }

  // --explain N of a document line.
  std::string explained(const std::string& line, bool labeled, std::size_t n) const {
    std::string out;
    const auto c = contributions(line, labeled);
    for (std::size_t j = 0; j < std::min(n, c.size()); ++j) {
      if (j > 0) out += ' ';
      out.append(name(c[j].first)).append(formatted(":%+.4f", c[j].second));
    }
    return out;
  }
};

// A naive Bayes model over indices 1 to 6, and documents with repeated indices, counts of 0, a
// large count, an index the model never saw and no words.
void small_model(const TempDir& dir) {
  dir.write("c.pos", "1:4 2:1 5:2\n1:2 3:1 6:1\n");
  dir.write("c.unlabel", "3:4 2:1 6:1\n3:2 4:1 5:1\n2:2 4:3\n");
  dir.write("c.test", "1 1:1\n-1 3:1\n");
  ASSERT_EQ(run_punb(dir, {"-nb", "-f", "c", "--model", "m"}).status, 0);
  const std::string docs =
      "1:1\n3:1 1:2 3:2\n2:1\n1:1\n1:1 3:1 2:0\n9:1\n\n3:100000 4:1\n5:1 6:1 4:2\n6:2 5:2\n";
  dir.write("docs", docs);
  std::string ids;
  std::string test;
  int d = 0;
  for (const std::string& line : lines_of(docs)) {
    ids.append("d").append(std::to_string(d)).append("\n");
    test += std::string(d++ % 3 == 0 ? "-1" : "1") + (line.empty() ? "" : " ") + line + "\n";
  }
  dir.write("docs.ids", ids);
  dir.write("docs.test", test);
}

TEST(ClassifyWords, ListsTheHighestAndLowestWeightsOfTheModel) {
  TempDir dir;
  small_model(dir);
  const ModelWords words(dir.path("m"));
  ASSERT_EQ(words.indices.size(), 6u);
  for (std::size_t k : {1, 2, 3, 4, 100}) {
    SCOPED_TRACE(k);
    const RunResult r = run_classify(dir, {"m", "--words", std::to_string(k)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, words.strongest(k));
    EXPECT_EQ(lines_of(r.out).size(), std::min<std::size_t>(2 * k, 6));
  }
  // Index 1 comes only in positive documents, index 4 only in unlabeled ones.
  const std::vector<std::string> lines = lines_of(run_classify(dir, {"m", "--words", "1"}).out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(lines[0].find('\t')), "\t1");
  EXPECT_EQ(lines[0][0], '+');
  EXPECT_EQ(lines[1].substr(lines[1].find('\t')), "\t4");
  EXPECT_EQ(lines[1][0], '-');
  ASSERT_EQ(run_classify(dir, {"m", "--words", "2", "-o", "w"}).status, 0);
  EXPECT_EQ(dir.read("w"), words.strongest(2));
}

// Every option set, with the sources of the documents so that a line names its document: the
// lines are those of the same run without --explain, each followed by a tab and its words.
TEST(ClassifyExplain, AddsEachDocumentsWordsToItsLineWithEveryOption) {
  TempDir dir;
  small_model(dir);
  const ModelWords words(dir.path("m"));
  const std::vector<std::string> docs = lines_of(dir.read("docs"));
  const std::vector<std::vector<std::string>> option_sets = {
      {},         {"--rank"}, {"--top", "3"}, {"--min", "0.5"}, {"--min", "0.3", "--top", "4"},
      {"-j", "3"}};
  for (const bool labeled : {false, true}) {
    const std::string file = labeled ? "docs.test" : "docs";
    for (const auto& options : option_sets) {
      for (const std::size_t n : {1, 2, 100}) {
        SCOPED_TRACE(testing::Message() << labeled << " " << options.size() << " " << n);
        std::vector<std::string> args = {"m", "--ids", "docs.ids", file};
        if (labeled) args.push_back("--labeled");
        args.insert(args.end(), options.begin(), options.end());
        const RunResult plain = run_classify(dir, args);
        args.insert(args.end(), {"--explain", std::to_string(n)});
        const RunResult explained = run_classify(dir, args);
        ASSERT_EQ(explained.status, 0) << explained.err;
        std::vector<std::string> expected;
        for (const std::string& line : lines_of(plain.out)) {
          const std::vector<std::string> fields = split(line, '\t');
          if (fields.size() < 2) {  // a figure line of --labeled
            expected.push_back(line);
            continue;
          }
          const auto d = static_cast<std::size_t>(std::stoul(fields[1].substr(1)));
          expected.push_back(line + "\t" + words.explained(docs[d], false, n));
        }
        EXPECT_EQ(lines_of(explained.out), expected);
      }
    }
  }
  // Without sources the explanation follows the posterior; -o writes the same lines.
  std::string expected;
  const std::vector<std::string> posteriors = lines_of(run_classify(dir, {"m", "docs"}).out);
  for (std::size_t d = 0; d < docs.size(); ++d)
    expected += posteriors[d] + "\t" + words.explained(docs[d], false, 3) + "\n";
  EXPECT_EQ(run_classify(dir, {"m", "docs", "--explain", "3"}).out, expected);
  ASSERT_EQ(run_classify(dir, {"m", "docs", "--explain", "3", "-o", "out"}).status, 0);
  EXPECT_EQ(dir.read("out"), expected);
}

// The example posts, read into a positive-unlabeled model with a text vocabulary: the words are
// named, and the priors' log ratio plus all of a document's contributions is its log-odds.
TEST(ClassifyExplain, ContributionsAddUpToTheLogOddsOnTheExamplePosts) {
  TempDir dir;
  const std::string text = EXAMPLES_DIR "/text/";
  ASSERT_EQ(
      run_vectorize(dir, {"-o", "t", "--pos", text + "train/pos", "--unlabel", text + "train/unsup",
                          "--test-pos", text + "test/pos", "--test-neg", text + "test/neg"})
          .status,
      0);
  ASSERT_EQ(run_punb(dir, {"-kov", "-f", "t", "--model", "m"}).status, 0);
  const ModelWords words(dir.path("m"));
  ASSERT_GT(words.names.size(), 100u);
  EXPECT_EQ(run_classify(dir, {"m", "--words", "15"}).out, words.strongest(15));
  int checked = 0;
  for (const auto& [file, labeled] : {std::pair{"t.test", true}, std::pair{"t.unlabel", false}}) {
    std::vector<std::string> args = {"m", file, "--explain", "100000", "-j", "2"};
    if (labeled) args.push_back("--labeled");
    const std::vector<std::string> out = lines_of(run_classify(dir, args).out);
    const std::vector<std::string> docs = lines_of(dir.read(file));
    ASSERT_GE(out.size(), docs.size());
    for (std::size_t d = 0; d < docs.size(); ++d) {
      const std::vector<std::string> fields = split(out[d], '\t');
      ASSERT_EQ(fields.size(), 2u) << out[d];
      EXPECT_EQ(fields[1], words.explained(docs[d], labeled, 100000));
      const double p = std::stod(fields[0]);
      // The printed posterior fixes the log-odds well only away from 0 and 1.
      if (!(p > 1e-7 && p < 1 - 1e-7)) continue;
      double sum = words.prior_ratio;
      std::size_t items = 0;
      for (const std::string& item : split(fields[1], ' ')) {
        if (item.empty()) continue;
        sum += std::stod(item.substr(item.rfind(':') + 1));
        ++items;
      }
      // Each printed contribution is rounded to 4 decimals.
      EXPECT_NEAR(sum, std::log(p) - std::log1p(-p), 5e-5 * static_cast<double>(items) + 1e-6)
          << out[d];
      ++checked;
    }
  }
  EXPECT_GT(checked, 50);
}

struct WarningCase {
  const char* name;
  std::string first_line;
  bool warns;
};

void PrintTo(const WarningCase& c, std::ostream* os) { *os << c.name; }

class LabelledFile : public ::testing::TestWithParam<WarningCase> {};

// A file whose first line begins with a label, read without --labeled: a warning naming
// --labeled, once for the file; the output is what the same lines give without the warning (led
// by a space, which the reading skips).
TEST_P(LabelledFile, WarnsOnceWithoutChangingTheReading) {
  const WarningCase& c = GetParam();
  TempDir dir;
  small_model(dir);
  const std::string rest = "1 3:2\n-1 1:1\n2:1\n";
  dir.write("f", c.first_line + "\n" + rest);
  dir.write("g", " " + c.first_line + "\n" + rest);
  const RunResult r = run_classify(dir, {"m", "f", "f", "--rank"});
  const RunResult quiet = run_classify(dir, {"m", "g", "g", "--rank"});
  EXPECT_EQ(r.status, quiet.status);
  EXPECT_EQ(r.out, quiet.out);
  EXPECT_EQ(quiet.err.find("warning"), std::string::npos) << quiet.err;
  std::size_t warnings = 0;
  for (const std::string& line : lines_of(r.err)) {
    if (line.find("warning") == std::string::npos) continue;
    ++warnings;
    EXPECT_EQ(line.rfind("punb-classify: f:1: warning: ", 0), 0u) << line;
    EXPECT_NE(line.find("--labeled"), std::string::npos) << line;
  }
  EXPECT_EQ(warnings, c.warns ? 2u : 0u) << r.err;
  // With --labeled the file is read as test lines, without a word.
  const RunResult labeled = run_classify(dir, {"m", "f", "--labeled"});
  EXPECT_EQ(labeled.err.find("warning"), std::string::npos) << labeled.err;
}

INSTANTIATE_TEST_SUITE_P(Table, LabelledFile,
                         ::testing::Values(WarningCase{"positive", "1 2:3 4:1", true},
                                           WarningCase{"negative", "-1 2:3", true},
                                           WarningCase{"positive_windows_line", "1  2:3 5:1\r",
                                                       true},
                                           WarningCase{"plain_pairs", "1:3 2:1", false},
                                           WarningCase{"ten", "10 2:3", false},
                                           WarningCase{"end_pair", "-1:-1 2:3", false},
                                           WarningCase{"empty_first_line", "", false},
                                           WarningCase{"index_eleven", "11:2", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace punb::test
