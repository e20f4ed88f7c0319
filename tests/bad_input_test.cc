// What the built binary does with bad input and a hostile environment, both modes, one table:
// the exact standard output, the exit status, where standard error points, and which files
// exist afterwards with what in them. Nothing half-written may pass for a success.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace punb {
namespace {

using test::TempDir;

const test::Corpus kGood = test::make_corpus(20, 30, 10);  // N = 20 (3 spies), U = 30, 10 tests

// What a file must look like after the run.
struct FileCheck {
  enum Kind { absent, present, empty, lines, same_as_good };
  std::string name;
  Kind kind;
  std::size_t count = 0;  // for `lines`
};

FileCheck absent(std::string n) { return {std::move(n), FileCheck::absent}; }
FileCheck present(std::string n) { return {std::move(n), FileCheck::present}; }
FileCheck empty(std::string n) { return {std::move(n), FileCheck::empty}; }
FileCheck lines(std::string n, std::size_t c) { return {std::move(n), FileCheck::lines, c}; }
FileCheck same(std::string n) { return {std::move(n), FileCheck::same_as_good}; }

using Setup = std::function<void(const TempDir&)>;

// Standard output: exactly `out`; `kGoodReports` stands for the reports a good run prints before
// its final banner, `kGoodOutput` for all of a good run's standard output.
const std::string kGoodReports = "<good reports>";
const std::string kGoodOutput = "<good output>";

struct BadCase {
  const char* name;
  bool kov;                       // the mode
  Setup setup;                    // turns the good corpus into the bad one
  std::vector<std::string> args;  // after "-nb"/"-kov" and "-f data"
  std::string out;
  int status;
  std::string detail;  // on standard error
  std::vector<FileCheck> files;
  bool run_in_proc = false;  // run with /proc, where nothing can be created, as current directory
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

// Setups.
Setup replace(std::string name, std::string content) {
  return [=](const TempDir& d) { d.write(name, content); };
}
Setup remove(std::string name) {
  return [=](const TempDir& d) { std::filesystem::remove(d.path(name)); };
}
Setup directory(std::string name) {
  return [=](const TempDir& d) {
    std::filesystem::remove(d.path(name));
    std::filesystem::create_directory(d.path(name));
  };
}
// A link to /dev/full takes the file's opening but none of its bytes; one to /proc/self/mem
// opens and fails on the first read, for root as well.
Setup link_to(std::string name, std::string target) {
  return [=](const TempDir& d) {
    std::filesystem::remove(d.path(name));
    std::filesystem::create_symlink(target, d.path(name));
  };
}
Setup edit(std::string name, std::function<std::string(std::string)> change) {
  return [=](const TempDir& d) { d.write(name, change(d.read(name))); };
}
// Inserts `line` before line `before` (1-based) of a file.
Setup insert_line(std::string name, int before, std::string line) {
  return edit(name, [=](std::string text) {
    std::size_t at = 0;
    for (int i = 1; i < before; ++i) at = text.find('\n', at) + 1;
    return text.insert(at, line);
  });
}
Setup all_files(std::function<std::string(std::string)> change) {
  return [=](const TempDir& d) {
    for (const char* f : {"data.pos", "data.unlabel", "data.test"}) d.write(f, change(d.read(f)));
  };
}
std::string crlf(std::string text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}
std::string no_final_newline(std::string text) { return text.substr(0, text.size() - 1); }
std::string ten_megabyte_line() {
  std::string line;
  while (line.size() < 10'000'000) line += "7:1 ";
  return line + "8:2\n";
}

const std::string kTestFormat = "test set: Data Format Error!!!";
const std::string kUsage = "parameter format error!\n";

const char* const kWorking[] = {"spy", "pos_withoutspy", "truetrain1matrix0", "unlabelmatrix0"};

// clang-format off
std::vector<BadCase> cases() {
  using V = std::vector<FileCheck>;
  const V no_files = {absent("data.output"), absent("data.log"), absent("spy")};
  const V nb_empty_output = {empty("data.output")};
  auto plus_one = edit("data.test", [](std::string t) { return t.replace(t.find("\n1 ") + 1, 1, "+1"); });
  auto one_x = edit("data.test", [](std::string t) { return t.replace(t.find("\n1 ") + 1, 1, "1x"); });
  return {
    // Naive Bayes mode: missing, empty, unreadable input files, in the order they are opened.
    {"nb_positive_missing", false, remove("data.pos"), {}, "can not read training set", 1, "data.pos: No such file", nb_empty_output},
    {"nb_unlabeled_missing", false, remove("data.unlabel"), {}, "can not read training set", 1, "data.unlabel: No such file", nb_empty_output},
    {"nb_test_missing", false, remove("data.test"), {}, "can not read test set", 1, "data.test: No such file", nb_empty_output},
    {"nb_positive_empty", false, replace("data.pos", ""), {}, "empty positive set", 1, "data.pos", nb_empty_output},
    {"nb_unlabeled_empty", false, replace("data.unlabel", ""), {}, "empty unlabeled set", 1, "data.unlabel", nb_empty_output},
    {"nb_only_index_zero", false, [](const TempDir& d) { d.write("data.pos", "0:3\n"); d.write("data.unlabel", "0:1\n\n"); }, {},
     "no features in training set", 1, "no feature index", nb_empty_output},
    {"nb_test_empty", false, replace("data.test", ""), {},
     "\nThere is no positive examples in test set\nThe Precision of the positive class is 0.000%\n"
     "The F_measure for positive class is 0.000%\nThe Accuracy for both classes is 0.000%\n", 0, "", nb_empty_output},
    {"nb_positive_directory", false, directory("data.pos"), {}, "can not read training set", 1, "data.pos: Is a directory", nb_empty_output},
    {"nb_test_directory", false, directory("data.test"), {}, "can not read test set", 1, "data.test: Is a directory", nb_empty_output},
    {"nb_positive_unreadable", false, link_to("data.pos", "/proc/self/mem"), {}, "can not read training set", 1,
     "data.pos: Input/output error", nb_empty_output},
    // Contents.
    {"nb_nul_byte", false, insert_line("data.pos", 2, std::string("3:1\0 4:1\n", 9)), {}, "NUL byte in input", 1,
     "data.pos:2: the line holds a NUL byte", nb_empty_output},
    {"nb_binary_junk", false, insert_line("data.unlabel", 1, "\x80\x81\xfe zz\x01\n"), {}, "negative count", 1,
     "data.unlabel:1: count -1", nb_empty_output},
    {"nb_crlf_line_ends", false, all_files(crlf), {}, kGoodOutput, 0, "", {same("data.output")}},
    {"nb_no_final_newline", false, all_files(no_final_newline), {}, kGoodOutput, 0, "", {same("data.output")}},
    {"nb_count_2_pow_31", false, insert_line("data.pos", 3, "5:2147483648\n"), {}, "number out of range", 1,
     "data.pos:3: a number does not fit in 32 bits", nb_empty_output},
    {"nb_index_minus_two", false, insert_line("data.unlabel", 2, "1:1 -2:1\n"), {}, "feature index out of range", 1,
     "data.unlabel:2: feature index -2", nb_empty_output},
    {"nb_index_500000", false, insert_line("data.pos", 1, "500000:1\n"), {}, "feature index out of range", 1,
     "data.pos:1: feature index 500000", nb_empty_output},
    {"nb_index_2_pow_40", false, insert_line("data.test", 2, "1 1099511627776:1\n"), {}, "number out of range", 1,
     "data.test:2", {lines("data.output", 1)}},
    {"nb_test_label_zero", false, insert_line("data.test", 4, "0 3:1\n"), {}, kTestFormat, 1, "data.test:4: label 0", {lines("data.output", 3)}},
    {"nb_test_label_two", false, insert_line("data.test", 4, "2 3:1\n"), {}, kTestFormat, 1, "data.test:4: label 2", {lines("data.output", 3)}},
    {"nb_test_label_empty_line", false, insert_line("data.test", 4, "\n"), {}, kTestFormat, 1, "data.test:4: label 0", {lines("data.output", 3)}},
    {"nb_test_label_2_pow_31", false, insert_line("data.test", 4, "2147483648 3:1\n"), {}, "number out of range", 1,
     "data.test:4", {lines("data.output", 3)}},
    {"nb_test_label_plus_one", false, plus_one, {}, kGoodOutput, 0, "", {same("data.output")}},
    {"nb_test_label_one_x", false, one_x, {}, kGoodOutput, 0, "", {same("data.output")}},
    // The result file.
    {"nb_result_is_a_directory", false, directory("data.output"), {}, "can not write prob_result.txt", 1, "data.output: Is a directory", {}},
    {"nb_result_on_a_full_disk", false, link_to("data.output", "/dev/full"), {}, "can not write prob_result.txt", 1,
     "data.output: No space left on device", {}},
    // Settings without a defined result.
    {"nb_negative_weight", false, {}, {"-l", "-1"}, kUsage, 2, "smoothing weight", no_files},
    {"nb_nan_weight", false, {}, {"-l", "nan"}, kUsage, 2, "smoothing weight", no_files},
    {"nb_weight_too_small_for_the_data", false, {}, {"-l", "5e-324"}, "degenerate model", 1, "word probability is 0", nb_empty_output},

    // Positive-unlabeled mode, in the order of its steps.
    {"kov_run_log_is_a_directory", true, directory("data.log"), {}, "can not read training set", 1, "data.log: Is a directory", {absent("spy")}},
    {"kov_positive_missing", true, remove("data.pos"), {}, "can not read training set", 1, "data.pos: No such file",
     {empty("data.log"), absent("spy")}},
    {"kov_positive_empty", true, replace("data.pos", ""), {}, "empty positive set", 1, "data.pos",
     {empty("data.log"), empty("spy"), empty("pos_withoutspy")}},
    {"kov_every_positive_a_spy", true, {}, {"-s", "1"}, "no positive documents besides the spies", 1, "spy fraction",
     {lines("spy", 20), empty("pos_withoutspy"), absent("unlabelmatrix0")}},
    {"kov_spy_on_a_full_disk", true, link_to("spy", "/dev/full"), {}, "write error new file", 1, "spy: No space left on device",
     {empty("data.log"), absent("unlabelmatrix0")}},
    {"kov_nowhere_to_write_working_files", true, {}, {}, "write error new file", 1, "spy:", {empty("data.log")}, true},
    {"kov_unlabeled_missing", true, remove("data.unlabel"), {}, "can not read training set", 1, "data.unlabel: No such file",
     {lines("spy", 3), lines("pos_withoutspy", 17), absent("unlabelmatrix0")}},
    {"kov_unlabeled_directory", true, directory("data.unlabel"), {}, "can not read training set", 1, "data.unlabel: Is a directory",
     {present("spy")}},
    {"kov_no_negative_documents", true, [](const TempDir& d) { d.write("data.pos", "1:1\n2:1\n3:1\n"); d.write("data.unlabel", ""); },
     {}, "empty unlabeled set", 1, "data.unlabel", {empty("spy"), absent("unlabelmatrix0")}},
    {"kov_unlabeled_empty", true, replace("data.unlabel", ""), {}, "no reliable negatives", 1, "round 0",
     {empty("truetrain1matrix0"), empty("unlabelmatrix0"), empty("data.log")}},
    {"kov_index_500000", true, insert_line("data.unlabel", 5, "3:1 500000:2\n"), {}, "feature index out of range", 1,
     "data.unlabel:5: feature index 500000", {present("spy"), absent("unlabelmatrix0")}},
    {"kov_remaining_file_on_a_full_disk", true, link_to("unlabelmatrix0", "/dev/full"), {}, "can not write unlabelmatrix", 1,
     "unlabelmatrix0: No space left on device", {empty("data.log")}},
    {"kov_reliable_file_on_a_full_disk", true, link_to("truetrain1matrix0", "/dev/full"), {}, "can not write file truetrain1matrix", 1,
     "truetrain1matrix0: No space left on device", {empty("data.log")}},
    {"kov_reliable_file_is_a_directory", true, directory("truetrain1matrix0"), {}, "can not write file truetrain1matrix", 1,
     "truetrain1matrix0: Is a directory", {empty("unlabelmatrix0"), empty("data.log")}},
    {"kov_test_missing", true, remove("data.test"), {}, "can not read test set", 1, "data.test: No such file",
     {empty("data.log"), same("truetrain1matrix0")}},
    {"kov_test_unreadable", true, link_to("data.test", "/proc/self/mem"), {}, "can not read test set", 1,
     "data.test: Input/output error", {empty("data.log")}},
    {"kov_test_label_two", true, insert_line("data.test", 4, "2 3:1\n"), {}, kTestFormat, 1, "data.test:4: label 2",
     {lines("data.log", 3), absent("data.output")}},
    {"kov_nul_byte_in_test", true, insert_line("data.test", 2, std::string("1 3:1\0\n", 7)), {}, "NUL byte in input", 1,
     "data.test:2", {lines("data.log", 1)}},
    {"kov_crlf_line_ends", true, all_files(crlf), {}, kGoodOutput, 0, "", {same("data.log"), same("data.output")}},
    {"kov_no_final_newline", true, all_files(no_final_newline), {}, kGoodOutput, 0, "", {same("data.log"), same("data.output")}},
    {"kov_test_label_plus_one", true, plus_one, {}, kGoodOutput, 0, "", {same("data.log"), same("data.output")}},
    // The end of the run: the result file and the run log.
    {"kov_result_is_a_directory", true, directory("data.output"), {}, kGoodReports + "can not write prob_result.txt", 1,
     "data.output: Is a directory", {same("data.log")}},
    {"kov_result_on_a_full_disk", true, link_to("data.output", "/dev/full"), {}, kGoodReports + "can not write prob_result.txt", 1,
     "data.output: No space left on device", {same("data.log")}},
    {"kov_run_log_on_a_full_disk", true, link_to("data.log", "/dev/full"), {}, kGoodReports + "write error new file", 1,
     "data.log: No space left on device", {absent("data.output")}},
    // Settings without a defined result.
    {"kov_spy_fraction_above_one", true, {}, {"-s", "1.5"}, kUsage, 2, "spy fraction", no_files},
    {"kov_negative_rate", true, {}, {"-rt", "-0.1"}, kUsage, 2, "threshold rate", no_files},
    {"kov_negative_iterations", true, {}, {"-i", "-3"}, kUsage, 2, "iteration count", no_files},
  };
}
// clang-format on

// The good corpus's outputs, per mode.
struct GoodRun {
  std::string out;
  std::map<std::string, std::string> files;
};

const GoodRun& good_run(bool kov) {
  static std::map<bool, GoodRun> runs;
  auto found = runs.find(kov);
  if (found != runs.end()) return found->second;
  TempDir dir;
  test::write_corpus(dir, kGood);
  const test::RunResult r = test::run_punb(dir, {kov ? "-kov" : "-nb", "-f", "data"});
  EXPECT_EQ(r.status, 0) << r.err;
  GoodRun& g = runs[kov];
  g.out = r.out;
  for (const char* f : {"data.output", "data.log"}) g.files[f] = dir.read(f);
  for (const char* f : kWorking) g.files[f] = dir.read(f);
  return g;
}

class BadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadInput, FailsCleanlyOrReadsAsDocumented) {
  const BadCase& c = GetParam();
  TempDir dir;
  test::write_corpus(dir, kGood);
  if (c.setup) c.setup(dir);
  std::vector<std::string> args = {c.kov ? "-kov" : "-nb", "-f",
                                   c.run_in_proc ? dir.path("data") : "data"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const test::RunResult r = c.run_in_proc ? test::run_in_directory("/proc", PUNB_BINARY, args)
                                          : test::run_punb(dir, args);

  const GoodRun& good = good_run(c.kov);
  std::string expected = c.out;
  if (expected == kGoodOutput) expected = good.out;
  if (expected.rfind(kGoodReports, 0) == 0) {
    expected = good.out.substr(0, good.out.find("\n************<  The Final Result")) +
               expected.substr(kGoodReports.size());
  }
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.status, c.status);
  if (c.detail.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(c.detail), std::string::npos) << r.err;
    EXPECT_EQ(test::count_lines(r.err), c.status == 2 ? test::count_lines(r.err) : 2u) << r.err;
  }
  for (const FileCheck& f : c.files) {
    const bool exists = std::filesystem::exists(dir.path(f.name));
    switch (f.kind) {
      case FileCheck::absent:
        EXPECT_FALSE(exists) << f.name;
        break;
      case FileCheck::present:
        EXPECT_TRUE(exists) << f.name;
        break;
      case FileCheck::empty:
        EXPECT_TRUE(exists) << f.name;
        EXPECT_EQ(dir.read(f.name), "") << f.name;
        break;
      case FileCheck::lines:
        EXPECT_TRUE(exists) << f.name;
        EXPECT_EQ(test::count_lines(dir.read(f.name)), f.count) << f.name;
        break;
      case FileCheck::same_as_good:
        EXPECT_EQ(dir.read(f.name), good.files.at(f.name)) << f.name;
        break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, BadInput, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Lines of any length are read whole, in both modes.
TEST(BadInput, TenMegabyteLine) {
  for (bool kov : {false, true}) {
    TempDir dir;
    test::write_corpus(dir, kGood);
    insert_line("data.unlabel", 7, ten_megabyte_line())(dir);
    const test::RunResult r = test::run_punb(dir, {kov ? "-kov" : "-nb", "-f", "data"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::count_lines(dir.read("data.output")), 10u);
    if (kov) {
      EXPECT_EQ(test::count_lines(dir.read("truetrain1matrix0") + dir.read("unlabelmatrix0")), 31u);
    }
  }
}

// Tabs keep their reading (the pair after a tab is lost) and warn once per file.
TEST(BadInput, TabsWarnOncePerFile) {
  for (bool kov : {false, true}) {
    TempDir dir;
    test::write_corpus(dir, kGood);
    insert_line("data.pos", 2, "1:1\t2:2 3:1\n")(dir);
    insert_line("data.pos", 5, "4:1\t5:2\n")(dir);
    insert_line("data.test", 3, "1 1:1\t2:2\n")(dir);
    const test::RunResult r = test::run_punb(dir, {kov ? "-kov" : "-nb", "-f", "data"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(test::count_lines(r.err), 2u) << r.err;
    EXPECT_NE(r.err.find("data.pos:2: warning"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("data.test:3: warning"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace punb
