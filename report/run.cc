#include "report/run.h"

#include <filesystem>

#include "docfile/fatal.h"
#include "docfile/runfiles.h"
#include "report/inputs.h"

namespace punb::report {

namespace {

std::string row_name(std::int64_t classifier) {
  return classifier == 0 ? "first classifier" : "iteration " + std::to_string(classifier);
}

std::string all_lines(const ReportLines& lines) {
  return lines.recall + lines.precision + lines.f_measure + lines.accuracy;
}

// The log's figures must be the ones its posteriors give with these labels: otherwise the test
// set is not the one the run was measured on, and every figure here would be about other data.
void check_figures(const std::string& log, const LogSection& s, const std::vector<bool>& positive,
                   const std::string& test_path) {
  const std::string expected = all_lines(report_lines(count_decisions(positive, s.posteriors)));
  if (s.figure_lines != expected) {
    throw Fatal(kBadInput, log + ":" + std::to_string(s.figures_line) + ": the figures of " +
                               row_name(s.classifier) + " are not those its posteriors give with " +
                               "the labels of " + test_path +
                               " (a test set changed since the run?)");
  }
}

std::vector<ClassifierRow> log_rows(const std::string& log, const RunReport& run,
                                    const std::string& test_path) {
  const std::vector<LogSection> sections = read_run_log(log, run.positive.size(), test_path);
  std::vector<ClassifierRow> rows;
  bool any_selected = false;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const LogSection& s = sections[i];
    check_figures(log, s, run.positive, test_path);
    const bool selected = i + 1 < sections.size() && s.posteriors == run.result;
    any_selected |= selected;
    rows.push_back({row_name(s.classifier), selected, measure(run.positive, s.posteriors)});
  }
  if (!any_selected) {
    throw Fatal(kBadInput, log + ":" + std::to_string(sections.back().figures_line) +
                               ": only the last classifier holds the lines of the result file, "
                               "and punb never selects the last one");
  }
  return rows;
}

}  // namespace

RunReport load_run(const std::string& stem) {
  const RunFiles files = RunFiles::from_stem(stem);
  RunReport run;
  run.positive = read_labels(files.test);
  run.result = read_result_file(files.result, run.positive.size(), files.test);
  std::error_code ignored;
  if (std::filesystem::exists(files.log, ignored)) {
    if (run_log_holds(files.log, run.result)) {
      run.rows = log_rows(files.log, run, files.test);
    } else {
      run.note = files.log + ": left out: none of its classifiers holds the lines of " +
                 files.result + ", so it is not this run's log";
    }
  }
  run.rows.push_back({"result file", false, measure(run.positive, run.result)});
  return run;
}

}  // namespace punb::report
