#include "finalem/runlog.h"

#include <gtest/gtest.h>

#include <string>

#include "docfile/outfile.h"
#include "test_support.h"

namespace punb {
namespace {

const std::string kSeparator(52, '*');

std::string section(const std::string& probabilities, const std::string& header, int figure) {
  const std::string f = std::to_string(figure) + ".000%\n";
  return probabilities + kSeparator + "\n" + header + "The Recall of the positive class is " + f +
         "The Precision of the positive class is " + f + "The F_measure for positive class is " +
         f + "The Accuracy for both classes is " + f + "\n";
}

const std::string kFirst = "************< Naivebayes Result > *************\n";
std::string iteration(int t) {
  return "************<  Iteration " + std::to_string(t) + " > *************\n";
}

struct Selected {
  std::string output;
  std::string report;
};

Selected select(const std::string& log_text, std::int64_t s) {
  test::TempDir dir;
  const RunFiles files = RunFiles::from_stem(dir.path("d"));
  OutFile log(files.log, "can not open");
  log.write(log_text);
  Selected r;
  r.report = write_final_result(log, files, s);
  r.output = dir.read("d.output");
  return r;
}

TEST(FinalResult, CopiesTheSelectedSectionAndPrintsItsBlock) {
  const std::string log =
      section("0.1\n0.2\n", kFirst, 10) + section("0.3\n0.4\n", iteration(1), 11) +
      section("0.5\n0.6\n", iteration(2), 12) + section("0.7\n0.8\n", iteration(3), 13);
  const std::string banner = "\n************<  The Final Result > *************\n";
  const struct {
    std::int64_t s;
    const char* output;
    std::string header;
    int figure;
  } cases[] = {{0, "0.1\n0.2\n", kFirst, 10},
               {1, "0.3\n0.4\n", iteration(1), 11},
               {2, "0.5\n0.6\n", iteration(2), 12}};
  for (const auto& c : cases) {
    const Selected r = select(log, c.s);
    EXPECT_EQ(r.output, c.output) << c.s;
    const std::string block = section("", c.header, c.figure);
    // The block without its separator line and without the closing empty line.
    EXPECT_EQ(r.report, banner + block.substr(53, block.size() - 54)) << c.s;
  }
}

TEST(FinalResult, EmptyTestSetGivesAnEmptyResultFile) {
  const std::string log =
      section("", kFirst, 0) + section("", iteration(1), 5) + section("", iteration(2), 7);
  for (std::int64_t s : {0, 1}) {
    const Selected r = select(log, s);
    EXPECT_EQ(r.output, "");
    EXPECT_NE(r.report.find(s == 0 ? kFirst : iteration(1)), std::string::npos);
  }
}

}  // namespace
}  // namespace punb
