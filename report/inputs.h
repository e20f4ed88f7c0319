#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace punb::report {

// The fixed message of the faults of this tool; the detail says what is wrong.
inline constexpr const char* kBadInput = "bad input";

// The files of a finished run. Every reader ends the run (Fatal) with "FILE:LINE: what is
// wrong" when a file cannot be read or does not hold what punb writes.

// The labels of the test set, read as punb reads them: true for a positive document.
std::vector<bool> read_labels(const std::string& test_path);

// A probability line's value: a decimal number from 0 to 1, nothing else on the line.
std::optional<double> parse_probability(std::string_view line);

// The result file: one probability per test document.
std::vector<double> read_result_file(const std::string& path, std::size_t documents,
                                     const std::string& test_path);

// Posteriors a line, as punb-classify prints them: each line's text up to its first tab (a
// source or an explanation may follow) is a probability.
std::vector<double> read_posteriors(const std::string& path);

// One tested classifier of the run log: 0 the first classifier, t iteration t.
struct LogSection {
  std::int64_t classifier = 0;
  std::vector<double> posteriors;
  std::string figure_lines;       // the four figure lines, as the log holds them
  std::int64_t figures_line = 0;  // where they begin, for messages
};

// Whether some section of the run log holds exactly `posteriors` as its probability lines.
// Lines that do not read as a run log are passed over: this only tells whether the log belongs
// to the run that wrote the result file.
bool run_log_holds(const std::string& path, const std::vector<double>& posteriors);

// Every section of the run log, in order, each checked: `documents` probability lines, the
// separator, the header of the next classifier in turn, four figure lines and an empty line.
std::vector<LogSection> read_run_log(const std::string& path, std::size_t documents,
                                     const std::string& test_path);

}  // namespace punb::report
