// punb-report on real punb runs: the figures at 0.5 are the ones punb printed, the selected
// classifier is the one punb reported as final, and bad or mismatched files end in an error
// that names the file and line, with no picture left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace punb {
namespace {

using test::TempDir;

std::vector<std::string> split(const std::string& text, char at) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, at);) parts.push_back(part);
  return parts;
}

// punb's standard output: the four figure texts ("88.889") of every classifier, then of the
// final result (naive Bayes mode: of its one classifier), and the final result's header.
struct PunbReport {
  std::vector<std::vector<std::string>> figures;
  std::string final_header;
};

PunbReport read_punb_output(const std::string& out) {
  PunbReport r;
  bool final_banner = false;
  for (const std::string& line : split(out, '\n')) {
    const std::size_t is = line.rfind(" is ");
    if (line.find("The Final Result") != std::string::npos) {
      final_banner = true;
    } else if (line.starts_with("************<")) {
      if (final_banner) r.final_header = line;
      if (!final_banner) r.figures.emplace_back();
    } else if (is != std::string::npos) {
      if (r.figures.empty()) r.figures.emplace_back();  // naive Bayes mode: no header
      if (final_banner && r.figures.back().size() == 4) r.figures.emplace_back();
      r.figures.back().push_back(line.substr(is + 4, line.size() - is - 5));
    }
  }
  return r;
}

std::string classifier_of(const std::string& header) {
  if (header.find("Naivebayes") != std::string::npos) return "first classifier";
  return "iteration " + split(header, ' ')[3];
}

test::RunResult run_report(const TempDir& dir, const std::vector<std::string>& args) {
  return test::run_in_directory(dir.root(), PUNB_REPORT_BINARY, args);
}

struct Corpus {
  const char* name;
  std::vector<std::string> generator_args;  // empty: the bundled example corpus
};

const Corpus kCorpora[] = {
    {"example", {}},
    {"odd_lines",
     {"--pos", "250", "--unlabel", "900", "--test", "250", "--vocab", "3000", "--words", "20",
      "--overlap", "0.9", "--odd", "0.3", "--seed", "5"}},
    {"mostly_positive",
     {"--pos", "200", "--unlabel", "600", "--test", "150", "--vocab", "2000", "--words", "15",
      "--overlap", "0.95", "--unlabeled-pos-share", "0.8", "--seed", "3"}},
};

void make_corpus(const TempDir& dir, const Corpus& c) {
  if (c.generator_args.empty()) {
    for (const char* ext : {".pos", ".unlabel", ".test"}) {
      std::filesystem::copy_file(std::string(EXAMPLES_DIR) + "/demo" + ext, dir.path("c") + ext);
    }
    return;
  }
  std::vector<std::string> args = {"--out", "c"};
  args.insert(args.end(), c.generator_args.begin(), c.generator_args.end());
  ASSERT_EQ(test::run_in_directory(dir.root(), GEN_CORPUS_BINARY, args).status, 0);
}

void PrintTo(const Corpus& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> kRuns[] = {
    {"-kov"}, {"-kov", "-i", "3", "-s", "0.3", "-rt", "0.25"}, {"-kov", "-i", "1"}, {"-nb"}};

class SameFiguresAsPunb : public ::testing::TestWithParam<Corpus> {};

TEST_P(SameFiguresAsPunb, AtHalfAndSelected) {
  TempDir dir;
  make_corpus(dir, GetParam());
  for (const std::vector<std::string>& run : kRuns) {
    std::vector<std::string> args = run;
    args.insert(args.end(), {"-f", "c"});
    const test::RunResult punb = test::run_punb(dir, args);
    ASSERT_EQ(punb.status, 0) << punb.err;
    const test::RunResult report = run_report(dir, {"c", "--tsv"});
    ASSERT_EQ(report.status, 0) << report.err;
    const PunbReport printed = read_punb_output(punb.out);
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : split(report.out, '\n')) rows.push_back(split(line, '\t'));
    rows.erase(rows.begin());  // the header
    // One row per classifier and one for the result file, whose figures punb printed last.
    // A naive Bayes run after a positive-unlabeled one leaves that run's log out.
    ASSERT_EQ(rows.size(), printed.figures.size()) << report.out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(std::vector(rows[i].begin() + 2, rows[i].begin() + 6), printed.figures[i])
          << rows[i][0];
    }
    if (run[0] == "-nb") {
      EXPECT_NE(report.err.find("c.log: left out"), std::string::npos) << report.err;
      continue;
    }
    const std::string selected = classifier_of(printed.final_header);
    for (const auto& row : rows) {
      if (row[1] == "1") {
        EXPECT_EQ(row[0], selected);
      }
      if (row[0] == selected || row[0] == "result file") {
        EXPECT_EQ(std::vector(row.begin() + 2, row.end()),
                  std::vector(rows.back().begin() + 2, rows.back().end()));
      }
    }
    EXPECT_NE(report.out.find(selected + "\t1\t"), std::string::npos) << report.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Corpora, SameFiguresAsPunb, ::testing::ValuesIn(kCorpora),
                         [](const auto& info) { return std::string(info.param.name); });

// A finished run of the example corpus, ready for the cases to spoil.
void finished_run(const TempDir& dir, const std::vector<std::string>& mode = {"-kov"}) {
  make_corpus(dir, kCorpora[0]);
  std::vector<std::string> args = mode;
  args.insert(args.end(), {"-f", "c"});
  ASSERT_EQ(test::run_punb(dir, args).status, 0);
}

// `line` (1-based) of a file replaced by `text`; an empty text drops the line.
void replace_line(const TempDir& dir, const std::string& file, std::size_t line,
                  const std::string& text) {
  std::vector<std::string> lines = split(dir.read(file), '\n');
  if (text.empty()) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(line - 1));
  } else {
    lines[line - 1] = text;
  }
  std::string joined;
  for (const std::string& l : lines) joined += l + "\n";
  dir.write(file, joined);
}

struct Fault {
  const char* name;
  void (*spoil)(const TempDir&);
  const char* where;  // the start of the detail on standard error
};

const Fault kFaults[] = {
    {"no_test_set", [](const TempDir& d) { std::filesystem::remove(d.path("c.test")); },
     "c.test: "},
    {"no_result_file", [](const TempDir& d) { std::filesystem::remove(d.path("c.output")); },
     "c.output: "},
    {"result_file_short", [](const TempDir& d) { replace_line(d, "c.output", 300, ""); },
     "c.output:300: "},
    {"result_file_long",
     [](const TempDir& d) { d.write("c.output", d.read("c.output") + "0.5\n"); }, "c.output:301: "},
    {"not_a_probability", [](const TempDir& d) { replace_line(d, "c.output", 7, "0.5\t\"\x7fx"); },
     "c.output:7: \"0.5\\x09\\x22\\x7fx\" is not a probability"},
    {"bad_label", [](const TempDir& d) { replace_line(d, "c.test", 4, "2 1:1"); }, "c.test:4: "},
    {"section_line_missing", [](const TempDir& d) { replace_line(d, "c.log", 310, ""); },
     "c.log:607: "},
    {"header_out_of_turn",
     [](const TempDir& d) {
       replace_line(d, "c.log", 302, "************<  Iteration 2 > *************");
     },
     "c.log:302: "},
    {"labels_changed",
     [](const TempDir& d) {
       replace_line(d, "c.test", 1, "1 " + split(d.read("c.test"), '\n')[0].substr(3));
     },
     "c.log:303: "},
    {"log_cut_short",
     [](const TempDir& d) {
       d.write("c.log", d.read("c.log").substr(0, d.read("c.log").size() - 60));
     },
     "c.log:"},
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class Faults : public ::testing::TestWithParam<Fault> {};

TEST_P(Faults, NameTheFileAndLeaveNoPicture) {
  TempDir dir;
  finished_run(dir);
  GetParam().spoil(dir);
  const test::RunResult r = run_report(dir, {"c"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind(std::string("punb-report: ") + GetParam().where, 0), 0u) << r.err;
  EXPECT_EQ(test::count_lines(r.err), 1u) << r.err;
  EXPECT_EQ(r.out, "");
  for (const auto& entry : std::filesystem::directory_iterator(dir.root())) {
    EXPECT_EQ(entry.path().string().find(".svg"), std::string::npos) << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Faults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, WrongUseIsStatusTwo) {
  TempDir dir;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"-o", "x.svg"},
                                             {"c", "-o"},
                                             {"c", "d"},
                                             {"c", "-x"},
                                             {"c", "--prior", "0.5"},
                                             {"c", "--unlabeled"},
                                             {"c", "--unlabeled", "u", "--prior", "1"},
                                             {"c", "--unlabeled", "u", "--prior", "0"},
                                             {"c", "--unlabeled", "u", "--prior", "nan"}}) {
    const test::RunResult r = run_report(dir, args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_NE(r.err.find("usage: punb-report STEM"), std::string::npos);
  }
}

TEST(CommandLine, FullStandardOutputIsAnError) {
  TempDir dir;
  finished_run(dir);
  const std::string command = "cd " + test::shell_quote(dir.root()) + " && " +
                              test::shell_quote(PUNB_REPORT_BINARY) + " c >/dev/full 2>/dev/null";
  const int raw = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
}

TEST(Picture, GoesWhereAsked) {
  TempDir dir;
  finished_run(dir);
  ASSERT_EQ(run_report(dir, {"c"}).status, 0);
  ASSERT_EQ(run_report(dir, {"-o", "elsewhere.svg", "c"}).status, 0);
  for (const char* name : {"c.report.svg", "elsewhere.svg"}) {
    const std::string svg = dir.read(name);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u) << name;
    EXPECT_TRUE(svg.ends_with("</svg>\n")) << name;
    EXPECT_NE(svg.find(">selected</text>"), std::string::npos) << name;
  }
  const std::string test_set = dir.read("c.test");
  EXPECT_EQ(run_report(dir, {"c", "-o", "./c.test"}).status, 1);
  EXPECT_EQ(dir.read("c.test"), test_set);
  std::filesystem::create_directory(dir.path("folder.svg"));
  EXPECT_EQ(run_report(dir, {"c", "-o", "folder.svg"}).status, 1);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path("folder.svg")));
}

// A test set of one class: the figures that need the other print "-", never nan.
TEST(OneClassOnly, UndefinedFiguresAreDashes) {
  TempDir dir;
  make_corpus(dir, kCorpora[0]);
  std::string negatives;
  for (const std::string& line : split(dir.read("c.test"), '\n')) {
    if (line.starts_with("-1")) negatives += line + "\n";
  }
  dir.write("c.test", negatives);
  ASSERT_EQ(test::run_punb(dir, {"-nb", "-f", "c"}).status, 0);
  const test::RunResult r = run_report(dir, {"c", "--tsv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> row = split(split(r.out, '\n')[1], '\t');
  EXPECT_EQ(row[2], "-");  // recall
  EXPECT_EQ(row[4], "-");  // F-measure
  EXPECT_NE(row[5], "-");  // accuracy
  EXPECT_EQ(std::vector(row.begin() + 6, row.end()), std::vector<std::string>(4, "-"));
  const std::string svg = dir.read("c.report.svg");
  for (const char* word : {"nan", "inf"}) EXPECT_EQ(svg.find(word), std::string::npos) << word;
}

// Without labelled negatives: the test set's positive lines are the held-out positives, and
// every figure is its formula, worked out here from the files.
TEST(WithoutNegatives, EveryFigureIsItsFormula) {
  TempDir dir;
  finished_run(dir);
  std::vector<double> held, unlabeled;
  const std::vector<std::string> labels = split(dir.read("c.test"), '\n');
  const std::vector<std::string> output = split(dir.read("c.output"), '\n');
  std::string u, held_lines;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const bool positive = labels[i].starts_with("1 ");
    if (positive) held.push_back(std::stod(output[i]));
    if (positive) held_lines += output[i] + "\n";
    if (!positive || i % 3 == 0) {  // a third of the positives among the unlabeled documents
      unlabeled.push_back(std::stod(output[i]));
      u += output[i] + (i % 2 ? "\tsource " + std::to_string(i) : "") + "\n";
    }
  }
  dir.write("u.txt", u);
  auto called = [](const std::vector<double>& v) {
    double n = 0;
    for (double p : v) n += 1 - p <= p;
    return n / static_cast<double>(v.size());
  };
  const double r = called(held), q = called(unlabeled), prior = 0.3;
  double won = 0;
  for (double p : held)
    for (double x : unlabeled) won += p > x ? 1 : p == x ? 0.5 : 0;
  const double auc = won / static_cast<double>(held.size() * unlabeled.size());
  std::vector<double> sorted = held;
  std::sort(sorted.rbegin(), sorted.rend());
  const double at = sorted[(held.size() + 3) / 4 - 1];
  auto share_at = [&](const std::vector<double>& v) {
    return static_cast<double>(
               std::count_if(v.begin(), v.end(), [&](double p) { return p >= at; })) /
           static_cast<double>(v.size());
  };
  const double precision = std::min(1.0, prior * r / q);
  const std::map<std::string, double> expected = {
      {"held_out_positives", static_cast<double>(held.size())},
      {"unlabeled_documents", static_cast<double>(unlabeled.size())},
      {"recall", r},
      {"positive_share", q},
      {"lee_liu", r * r / q},
      {"prior_given", prior},
      {"precision", precision},
      {"f1", 2 * precision * r / (precision + r)},
      {"roc_auc", std::clamp((auc - prior / 2) / (1 - prior), 0.0, 1.0)},
      {"roc_auc_unlabeled", auc},
  };
  const test::RunResult given =
      run_report(dir, {"c", "--unlabeled", "u.txt", "--prior", "0.3", "--tsv"});
  ASSERT_EQ(given.status, 0) << given.err;
  EXPECT_NE(given.err.find("negative lines are left out"), std::string::npos) << given.err;
  std::vector<std::string> rows = split(given.out, '\n');
  ASSERT_EQ(rows.size(), expected.size() + 1);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const std::vector<std::string> cells = split(rows[i], '\t');
    ASSERT_TRUE(expected.count(cells[0])) << cells[0];
    EXPECT_NEAR(std::stod(cells[1]), expected.at(cells[0]), 1e-15) << cells[0];
    if (cells[2] != "-") {
      EXPECT_LE(std::stod(cells[2]), std::stod(cells[1])) << cells[0];
      EXPECT_GE(std::stod(cells[3]), std::stod(cells[1])) << cells[0];
    }
  }
  // The held-out positives among the unlabeled documents, as punb-vectorize puts them, are taken
  // out again.
  dir.write("w.txt", held_lines + u);
  const test::RunResult taken =
      run_report(dir, {"c", "--unlabeled", "w.txt", "--prior", "0.3", "--tsv"});
  EXPECT_EQ(taken.out, given.out) << taken.err;
  std::string ones;  // above every held-out posterior, equal to none
  for (std::size_t i = 0; i < held.size() + 5; ++i) ones += "1\n";
  dir.write("ones.txt", ones);
  const test::RunResult kept = run_report(dir, {"c", "--unlabeled", "ones.txt", "--tsv"});
  EXPECT_NE(kept.out.find("unlabeled_documents\t" + std::to_string(held.size() + 5) + "\t"),
            std::string::npos)
      << kept.out;
  const test::RunResult estimated = run_report(dir, {"c", "--unlabeled", "u.txt"});
  ASSERT_EQ(estimated.status, 0) << estimated.err;
  const std::string prior_row = split(estimated.out, '\n')[6];
  EXPECT_EQ(prior_row.rfind("prior (estimated)", 0), 0u) << prior_row;
  EXPECT_NEAR(std::stod(prior_row.substr(17)), share_at(unlabeled) / share_at(held), 5e-5);
  const std::string svg = dir.read("c.pu-report.svg");
  EXPECT_NE(svg.find("held-out"), std::string::npos);
  for (const char* word : {"nan", "inf"}) EXPECT_EQ(svg.find(word), std::string::npos) << word;

  // No held-out positive, an unlabeled file that is not one: an error naming the file and line.
  dir.write("v.txt", "0.5\n0.25\tx\n0.5x\n");
  const test::RunResult bad = run_report(dir, {"c", "--unlabeled", "v.txt"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err.rfind("punb-report: v.txt:3: \"0.5x\" does not begin with a probability", 0),
            0u)
      << bad.err;
  std::string negatives;
  for (const std::string& line : labels)
    if (line.starts_with("-1")) negatives += line + "\n";
  dir.write("c.test", negatives);
  std::string halves;
  for (std::size_t i = 0; i < test::count_lines(negatives); ++i) halves += "0.5\n";
  dir.write("c.output", halves);
  const test::RunResult none = run_report(dir, {"c", "--unlabeled", "u.txt"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err.rfind("punb-report: c.test: no positive test document", 0), 0u) << none.err;
}

}  // namespace
}  // namespace punb
