// What the built binary does with bad input, a hostile environment and documented corners, both
// modes, one table: the exact standard output, the exit status, where standard error points, and
// which files exist afterwards with what in them. Nothing half-written may pass for a success.
#include <gtest/gtest.h>
#include <pty.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace punb {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

// N = 20 (3 spies), U = 30, 10 test documents, the third of them positive.
const char* const kCorpusOptions =
    "--pos 20 --unlabel 30 --test 10 --vocab 60 --words 6 --overlap 0.6 --seed 4";

// What a file must hold after the run: `lines` newlines (0: empty), or one of these.
constexpr int kAbsent = -1, kPresent = -2, kSameAsGood = -3, kContent = -4;
struct FileCheck {
  std::string name;  // "a+b" checks the two files' contents one after the other
  int lines;
  std::string content = "";
};

using Setup = std::function<void(const TempDir&)>;

// Standard output markers: all of a good run's output; the reports a good run prints before its
// final banner, followed by the rest of the text; anything.
const std::string kGoodOutput = "<good output>";
const std::string kGoodReports = "<good reports>";
const std::string kUnchecked = "<unchecked>";

struct Case {
  const char* name;
  bool kov;
  Setup setup;                    // turns the good corpus into the case's
  std::vector<std::string> args;  // after "-nb"/"-kov" and "-f data"
  std::string out;
  int status;
  std::string detail;  // on standard error; empty: nothing there
  std::vector<FileCheck> files;
  bool run_in_proc = false;      // with /proc, where nothing can be created, as current directory
  std::size_t detail_lines = 2;  // on standard error, the first ending the message's line
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

Setup replace(std::string name, std::string content) {
  return [=](const TempDir& d) { d.write(name, content); };
}
Setup remove(std::string name) {
  return [=](const TempDir& d) { fs::remove(d.path(name)); };
}
Setup directory(std::string name) {
  return [=](const TempDir& d) { fs::remove(d.path(name)), fs::create_directory(d.path(name)); };
}
// /dev/full takes the opening but none of the bytes; /proc/self/mem opens and fails on the first
// read, for root as well.
Setup link_to(std::string name, std::string target) {
  return
      [=](const TempDir& d) { fs::remove(d.path(name)), fs::create_symlink(target, d.path(name)); };
}
Setup edit(std::vector<std::string> names, std::function<std::string(std::string)> change) {
  return [=](const TempDir& d) {
    for (const std::string& name : names) d.write(name, change(d.read(name)));
  };
}
// Inserts `line` before line `before` (1-based).
Setup insert_line(std::string name, int before, std::string line) {
  return edit({name}, [=](std::string text) {
    std::size_t at = 0;
    for (int i = 1; i < before; ++i) at = text.find('\n', at) + 1;
    return text.insert(at, line);
  });
}
Setup both(Setup a, Setup b) {
  return [=](const TempDir& d) { a(d), b(d); };
}
const std::vector<std::string> kInputs = {"data.pos", "data.unlabel", "data.test"};
std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) c == '\n' ? out += "\r\n" : out += c;
  return out;
}
// Made when a case runs, not held in the table: the table is copied for every thread count.
Setup insert_ten_megabyte_line(std::string name, int before) {
  return [=](const TempDir& d) {
    std::string line;
    while (line.size() < 10'000'000) line += "7:1 ";
    insert_line(name, before, line + "8:2\n")(d);
  };
}

const std::string kTestFormat = "test set: Data Format Error!!!";
const std::string kUsage = "parameter format error!\n";

// clang-format off
std::vector<Case> cases() {
  using V = std::vector<FileCheck>;
  const V no_files = {{"data.output", kAbsent}, {"data.log", kAbsent}, {"spy", kAbsent}};
  const V nb_empty_output = {{"data.output", 0}};
  auto plus_one = edit({"data.test"}, [](std::string t) { return t.replace(t.find("\n1 ") + 1, 1, "+1"); });
  auto tabs = both(insert_line("data.pos", 2, "1:1\t2:2 3:1\n"), both(insert_line("data.pos", 5, "4:1\t5:2\n"), insert_line("data.test", 3, "1 1:1\t2:2\n")));
  // Ten equal positives, one of them the spy, so the spy threshold is their posterior: the
  // unlabeled copies score the same to the last bit and are reliable negatives.
  std::string ten_equal;
  for (int i = 0; i < 10; ++i) ten_equal += "1:2 2:1\n";
  const std::string unlabeled_at_threshold = "1:2 2:1\n3:4\n1:2 2:1\n1:9\n3:1 4:1\n";
  auto at_threshold = both(replace("data.pos", ten_equal), replace("data.unlabel", unlabeled_at_threshold));
  return {
    // Naive Bayes mode: missing, empty, unreadable input files, in the order they are opened.
    {"nb_positive_missing", false, remove("data.pos"), {}, "can not read training set", 1, "data.pos: No such file", nb_empty_output},
    {"nb_unlabeled_missing", false, remove("data.unlabel"), {}, "can not read training set", 1, "data.unlabel: No such file", nb_empty_output},
    {"nb_test_missing", false, remove("data.test"), {}, "can not read test set", 1, "data.test: No such file", nb_empty_output},
    {"nb_positive_empty", false, replace("data.pos", ""), {}, "empty positive set", 1, "data.pos", nb_empty_output},
    {"nb_unlabeled_empty", false, replace("data.unlabel", ""), {}, "empty unlabeled set", 1, "data.unlabel", nb_empty_output},
    {"nb_only_index_zero", false, both(replace("data.pos", "0:3\n"), replace("data.unlabel", "0:1\n\n")), {},
     "no features in training set", 1, "no feature index", nb_empty_output},
    {"nb_test_empty", false, replace("data.test", ""), {},
     "\nThere is no positive examples in test set\nThe Precision of the positive class is 0.000%\n"
     "The F_measure for positive class is 0.000%\nThe Accuracy for both classes is 0.000%\n", 0, "", nb_empty_output},
    {"nb_test_directory", false, directory("data.test"), {}, "can not read test set", 1, "data.test: Is a directory", nb_empty_output},
    {"nb_positive_unreadable", false, link_to("data.pos", "/proc/self/mem"), {}, "can not read training set", 1,
     "data.pos: Input/output error", nb_empty_output},
    // Contents.
    {"nb_nul_byte", false, insert_line("data.pos", 2, std::string("3:1\0 4:1\n", 9)), {}, "NUL byte in input", 1,
     "data.pos:2: the line holds a NUL byte", nb_empty_output},
    {"nb_binary_junk", false, insert_line("data.unlabel", 1, "\x80\x81\xfe zz\x01\n"), {}, "negative count", 1,
     "data.unlabel:1: count -1", nb_empty_output},
    {"nb_crlf_line_ends", false, edit(kInputs, crlf), {}, kGoodOutput, 0, "", {{"data.output", kSameAsGood}}},
    {"nb_no_final_newline", false, edit(kInputs, [](std::string t) { return t.substr(0, t.size() - 1); }), {}, kGoodOutput, 0, "",
     {{"data.output", kSameAsGood}}},
    {"nb_count_2_pow_31", false, insert_line("data.pos", 3, "5:2147483648\n"), {}, "number out of range", 1,
     "data.pos:3: a number does not fit in 32 bits", nb_empty_output},
    {"nb_index_500000", false, insert_line("data.pos", 1, "500000:1\n"), {}, "feature index out of range", 1,
     "data.pos:1: feature index 500000", nb_empty_output},
    {"nb_index_2_pow_40", false, insert_line("data.test", 2, "1 1099511627776:1\n"), {}, "number out of range", 1,
     "data.test:2", {{"data.output", 1}}},
    {"nb_test_label_two", false, insert_line("data.test", 4, "2 3:1\n"), {}, kTestFormat, 1, "data.test:4: label 2", {{"data.output", 3}}},
    {"nb_test_label_empty_line", false, insert_line("data.test", 4, "\n"), {}, kTestFormat, 1, "data.test:4: label 0", {{"data.output", 3}}},
    {"nb_test_label_plus_one", false, plus_one, {}, kGoodOutput, 0, "", {{"data.output", kSameAsGood}}},
    {"nb_tabs_warn_once_per_file", false, tabs, {}, kUnchecked, 0, "data.pos:2: warning", {{"data.output", 11}}},
    {"nb_ten_megabyte_line", false, insert_ten_megabyte_line("data.unlabel", 7), {}, kUnchecked, 0, "", {{"data.output", 10}}},
    // The result file.
    {"nb_result_is_a_directory", false, directory("data.output"), {}, "can not write prob_result.txt", 1, "data.output: Is a directory", {}},
    {"nb_failed_run_keeps_the_earlier_model", false, both(replace("m", "earlier\n"), insert_line("data.test", 2, "7 1:1\n")),
     {"--model", "m"}, kTestFormat, 1, "data.test:2: label 7", {{"m", kContent, "earlier\n"}}},
    {"nb_model_on_a_full_disk", false, {}, {"--model", "/dev/full"}, kGoodOutput + "can not write model file", 1,
     "/dev/full: No space left on device", {{"data.output", kSameAsGood}}},
    {"nb_result_on_a_full_disk", false, link_to("data.output", "/dev/full"), {}, "can not write prob_result.txt", 1,
     "data.output: No space left on device", {}},
    // Settings without a defined result.
    {"nb_negative_weight", false, {}, {"-l", "-1"}, kUsage, 2, "smoothing weight", no_files},
    {"nb_nan_weight", false, {}, {"-l", "nan"}, kUsage, 2, "smoothing weight", no_files},
    {"nb_weight_too_small_for_the_data", false, {}, {"-l", "5e-324"}, "degenerate model", 1, "word probability is 0", nb_empty_output},
    // Index 2 is in no document: its probability underflows to 0, but is never scored.
    {"nb_unseen_index_is_never_scored", false, both(replace("data.pos", "1:1 3:1\n"), replace("data.unlabel", "1:1 3:1\n")), {"-l", "5e-324"},
     kUnchecked, 0, "", {{"data.output", 10}}},

    // Positive-unlabeled mode, in the order of its steps.
    {"kov_run_log_is_a_directory", true, directory("data.log"), {}, "can not read training set", 1, "data.log: Is a directory", {{"spy", kAbsent}}},
    {"kov_positive_missing", true, remove("data.pos"), {}, "can not read training set", 1, "data.pos: No such file",
     {{"data.log", 0}, {"spy", kAbsent}}},
    {"kov_positive_empty", true, replace("data.pos", ""), {}, "empty positive set", 1, "data.pos",
     {{"data.log", 0}, {"spy", 0}, {"pos_withoutspy", 0}}},
    {"kov_every_positive_a_spy", true, {}, {"-s", "1"}, "no positive documents besides the spies", 1, "spy fraction",
     {{"spy", 20}, {"pos_withoutspy", 0}, {"unlabelmatrix0", kAbsent}}},
    {"kov_spy_on_a_full_disk", true, link_to("spy", "/dev/full"), {}, "write error new file", 1, "spy: No space left on device",
     {{"data.log", 0}, {"unlabelmatrix0", kAbsent}}},
    {"kov_positives_without_spies_on_a_full_disk", true, link_to("pos_withoutspy", "/dev/full"), {}, "write error new file", 1,
     "pos_withoutspy: No space left on device", {{"data.log", 0}, {"unlabelmatrix0", kAbsent}}},
    {"kov_nowhere_to_write_working_files", true, {}, {}, "write error new file", 1, "spy:", {{"data.log", 0}}, true},
    {"kov_unlabeled_missing", true, remove("data.unlabel"), {}, "can not read training set", 1, "data.unlabel: No such file",
     {{"spy", 3}, {"pos_withoutspy", 17}, {"unlabelmatrix0", kAbsent}}},
    {"kov_unlabeled_directory", true, directory("data.unlabel"), {}, "can not read training set", 1, "data.unlabel: Is a directory",
     {{"spy", kPresent}}},
    {"kov_no_negative_documents", true, both(replace("data.pos", "1:1\n2:1\n3:1\n"), replace("data.unlabel", "")),
     {}, "empty unlabeled set", 1, "data.unlabel", {{"spy", 0}, {"unlabelmatrix0", kAbsent}}},
    {"kov_unlabeled_empty", true, replace("data.unlabel", ""), {}, "no reliable negatives", 1, "round 0",
     {{"truetrain1matrix0", 0}, {"unlabelmatrix0", 0}, {"data.log", 0}}},
    {"kov_index_500000", true, insert_line("data.unlabel", 5, "3:1 500000:2\n"), {}, "feature index out of range", 1,
     "data.unlabel:5: feature index 500000", {{"spy", kPresent}, {"unlabelmatrix0", kAbsent}}},
    {"kov_remaining_file_on_a_full_disk", true, link_to("unlabelmatrix0", "/dev/full"), {}, "can not write unlabelmatrix", 1,
     "unlabelmatrix0: No space left on device", {{"data.log", 0}}},
    {"kov_reliable_file_on_a_full_disk", true, link_to("truetrain1matrix0", "/dev/full"), {}, "can not write file truetrain1matrix", 1,
     "truetrain1matrix0: No space left on device", {{"data.log", 0}}},
    {"kov_reliable_file_is_a_directory", true, directory("truetrain1matrix0"), {}, "can not write file truetrain1matrix", 1,
     "truetrain1matrix0: Is a directory", {{"unlabelmatrix0", 0}, {"data.log", 0}}},
    {"kov_test_missing", true, remove("data.test"), {}, "can not read test set", 1, "data.test: No such file",
     {{"data.log", 0}, {"truetrain1matrix0", kSameAsGood}}},
    {"kov_test_unreadable", true, link_to("data.test", "/proc/self/mem"), {}, "can not read test set", 1,
     "data.test: Input/output error", {{"data.log", 0}}},
    {"kov_test_label_two", true, insert_line("data.test", 4, "2 3:1\n"), {}, kTestFormat, 1, "data.test:4: label 2",
     {{"data.log", 3}, {"data.output", kAbsent}}},
    {"kov_crlf_line_ends", true, edit(kInputs, crlf), {}, kGoodOutput, 0, "", {{"data.log", kSameAsGood}, {"data.output", kSameAsGood}}},
    {"kov_test_label_plus_one", true, plus_one, {}, kGoodOutput, 0, "", {{"data.log", kSameAsGood}, {"data.output", kSameAsGood}}},
    {"kov_tabs_warn_once_per_file", true, tabs, {}, kUnchecked, 0, "data.pos:2: warning", {{"data.output", 11}}},
    {"kov_ten_megabyte_line", true, insert_ten_megabyte_line("data.unlabel", 7), {}, kUnchecked, 0, "",
     {{"data.output", 10}, {"truetrain1matrix0+unlabelmatrix0", 31}}},
    // An empty test set: sections without probability lines (nine with the default eight
    // iterations), and an empty result file.
    {"kov_test_empty", true, replace("data.test", ""), {}, kUnchecked, 0, "", {{"data.log", 9 * 7}, {"data.output", 0}}},
    {"kov_posterior_at_the_threshold", true, at_threshold, {}, kUnchecked, 0, "",
     {{"spy", kContent, "1:2 2:1\n"}, {"truetrain1matrix0", kContent, unlabeled_at_threshold}, {"unlabelmatrix0", 0}}},
    // The end of the run: the result file and the run log.
    {"kov_result_is_a_directory", true, directory("data.output"), {}, kGoodReports + "can not write prob_result.txt", 1,
     "data.output: Is a directory", {{"data.log", kSameAsGood}}},
    {"kov_result_on_a_full_disk", true, link_to("data.output", "/dev/full"), {}, kGoodReports + "can not write prob_result.txt", 1,
     "data.output: No space left on device", {{"data.log", kSameAsGood}}},
    {"kov_run_log_on_a_full_disk", true, link_to("data.log", "/dev/full"), {}, kGoodReports + "write error new file", 1,
     "data.log: No space left on device", {{"data.output", kAbsent}}},
    // Keeping the classifier: written complete or not at all, and only by a run that succeeds.
    {"kov_model_on_a_full_disk", true, {}, {"--model", "/dev/full"}, kGoodOutput + "can not write model file", 1,
     "/dev/full: No space left on device", {{"data.output", kSameAsGood}}},
    // A model path that cannot be written costs no run.
    {"kov_model_in_a_missing_folder", true, {}, {"--model", "nowhere/m"}, "can not write model file", 1,
     "nowhere/m: No such file or directory", no_files},
    {"kov_model_is_a_folder", true, directory("m"), {"--model", "m"}, "can not write model file", 1, "m: Is a directory", no_files},
    {"nb_model_under_a_file", false, {}, {"--model", "data.pos/m"}, "can not write model file", 1,
     "data.pos/m: Not a directory", no_files},
    {"kov_bad_vocabulary_costs_no_run", true, replace("data.vocab", "1\t1\t1\tword\n2\tnonsense\n"), {"--model", "m"},
     "vocabulary file does not parse", 1, "data.vocab:2:", {{"data.log", kAbsent}, {"m", kAbsent}}},
    {"kov_vocabulary_without_options_taken_as_folded", true, replace("data.vocab", "1\t1\t1\tword\n"), {"--model", "m"},
     kGoodOutput, 0, "data.vocab.options beside it: its words are taken as folded", {{"m", kPresent}}, false, 1},
    // Settings without a defined result.
    {"kov_spy_fraction_above_one", true, {}, {"-s", "1.5"}, kUsage, 2, "spy fraction", no_files},
    {"kov_negative_rate", true, {}, {"-rt", "-0.1"}, kUsage, 2, "threshold rate", no_files},
    {"kov_negative_iterations", true, {}, {"-i", "-3"}, kUsage, 2, "iteration count", no_files},
  };
}
// clang-format on

std::string read_files(const TempDir& dir, const std::string& names) {
  const std::size_t plus = names.find('+');
  if (plus == std::string::npos) return dir.read(names);
  return dir.read(names.substr(0, plus)) + read_files(dir, names.substr(plus + 1));
}

// The good corpus and its outputs, per mode.
struct GoodRun {
  std::string out;
  std::map<std::string, std::string> files;
};

const GoodRun& good_run(bool kov) {
  static std::map<bool, GoodRun> runs;
  if (runs.count(kov)) return runs[kov];
  TempDir dir;
  test::generate_corpus(dir, "data", kCorpusOptions);
  const test::RunResult r = test::run_punb(dir, {kov ? "-kov" : "-nb", "-f", "data"});
  EXPECT_EQ(r.status, 0) << r.err;
  GoodRun& g = runs[kov];
  g.out = r.out;
  for (const char* f :
       {"data.pos", "data.unlabel", "data.test", "data.output", "data.log", "truetrain1matrix0"}) {
    g.files[f] = dir.read(f);
  }
  return g;
}

// Every case at one thread and at four, where the small files come in pieces of a line or two:
// the same message, line, status and files either way.
class BadInput : public ::testing::TestWithParam<std::tuple<Case, const char*>> {};

TEST_P(BadInput, FailsCleanlyOrReadsAsDocumented) {
  const auto& [c, threads] = GetParam();
  const GoodRun& good = good_run(c.kov);
  TempDir dir;
  for (const std::string& f : kInputs) dir.write(f, good.files.at(f));
  if (c.setup) c.setup(dir);
  std::vector<std::string> args = {c.kov ? "-kov" : "-nb", "-f",
                                   c.run_in_proc ? dir.path("data") : "data", "-j", threads};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const test::RunResult r =
      test::run_in_directory(c.run_in_proc ? "/proc" : dir.root(), PUNB_BINARY, args);

  std::string expected = c.out == kGoodOutput ? good.out : c.out;
  if (c.out.rfind(kGoodOutput, 0) == 0) expected = good.out + c.out.substr(kGoodOutput.size());
  if (expected.rfind(kGoodReports, 0) == 0) {
    expected = good.out.substr(0, good.out.find("\n************<  The Final Result")) +
               expected.substr(kGoodReports.size());
  }
  if (c.out != kUnchecked) {
    EXPECT_EQ(r.out, expected);
  }
  EXPECT_EQ(r.status, c.status);
  if (c.detail.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(c.detail), std::string::npos) << r.err;
    // One line of detail (after the line break that ends the message's line), or one warning
    // per file; the usage error adds a synopsis.
    EXPECT_TRUE(c.status == 2 || test::count_lines(r.err) == c.detail_lines) << r.err;
  }
  for (const FileCheck& f : c.files) {
    const bool exists = fs::exists(dir.path(f.name.substr(0, f.name.find('+'))));
    EXPECT_EQ(exists, f.lines != kAbsent) << f.name;
    if (!exists) continue;
    const std::string text = read_files(dir, f.name);
    const std::string want = f.lines == kSameAsGood ? good.files.at(f.name) : f.content;
    if (f.lines == kPresent) continue;
    if (f.lines > 0) {
      EXPECT_EQ(test::count_lines(text), static_cast<std::size_t>(f.lines)) << f.name;
    } else {
      EXPECT_EQ(text, want) << f.name;  // the good run's, the given content, or empty
    }
  }
}

// Alone, --help and --version answer at once; among other arguments they are words the scan
// passes over, as always.
TEST(CommandLine, HelpAndVersionAlone) {
  TempDir dir;
  const test::RunResult help = test::run_punb(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: punb -nb|-kov -f STEM", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
  const test::RunResult version = test::run_punb(dir, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("punb ", 0), 0u);
  EXPECT_EQ(test::count_lines(version.out), 1u);
  const test::RunResult mixed = test::run_punb(dir, {"--version", "-nb"});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_EQ(mixed.out, "can not write prob_result.txt");
}

// Runs punb in `dir` with standard error on a pseudo-terminal that passes bytes as they are,
// standard output to a file: the run's status and output, and what reached the terminal.
test::RunResult run_on_terminal(const TempDir& dir, const std::vector<std::string>& args) {
  int master = -1;
  int slave = -1;
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) throw std::runtime_error("no pty");
  const TempDir capture;
  const std::string program = PUNB_BINARY;
  std::vector<char*> argv = test::argv_of(program, args);
  const pid_t child = fork();
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(capture.path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(slave, 2) < 0 ||
        chdir(dir.root().c_str()) != 0)
      _exit(127);
    close(master);
    execv(PUNB_BINARY, argv.data());
    _exit(127);
  }
  close(slave);
  std::string terminal;
  char bytes[4096];
  for (ssize_t n; (n = read(master, bytes, sizeof bytes)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;  // EIO: the run has closed its end
    terminal.append(bytes, static_cast<std::size_t>(n));
  }
  close(master);
  int status = 0;
  waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, capture.read("out"), terminal};
}

// On a terminal, standard error shows one progress line, erased at the end and before a fault's
// message; standard output is that of any run. (On a file nothing shows: the matrix finds standard
// error empty after every good run.)
TEST(Terminal, ProgressLineErasedAtTheEndAndBeforeAFault) {
  const GoodRun& good = good_run(true);
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "a fault" : "a good run");
    TempDir dir;
    for (const std::string& f : kInputs) dir.write(f, good.files.at(f));
    if (fails) dir.write("data.test", "1 3:1\n2 4:1\n");
    const std::vector<std::string> args = {"-kov", "-f", "data", "-j", "2"};
    const test::RunResult logged = test::run_punb(dir, args);
    const test::RunResult shown = run_on_terminal(dir, args);
    EXPECT_EQ(shown.status, logged.status);
    EXPECT_EQ(shown.out, logged.out);
    const std::string erase = "\r\033[K";
    EXPECT_EQ(shown.err.rfind(erase + "punb: reading: ", 0), 0u) << shown.err;
    const std::string line_before = shown.err.substr(0, shown.err.size() - logged.err.size());
    EXPECT_TRUE(line_before.ends_with(erase)) << shown.err;
    EXPECT_TRUE(shown.err.ends_with(logged.err)) << shown.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, BadInput, ::testing::Combine(::testing::ValuesIn(cases()), ::testing::Values("1", "4")),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_j" + std::get<1>(info.param);
    });

}  // namespace
}  // namespace punb
