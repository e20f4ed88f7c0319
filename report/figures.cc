#include "report/figures.h"

#include <charconv>
#include <cstdio>

namespace punb::report {

namespace {

constexpr const char* kUndefined = "-";

// The number of a figure line: "The Recall of the positive class is 88.889%\n" -> "88.889".
std::string figure_text(const std::string& line) {
  const std::size_t start = line.rfind(" is ") + 4;
  return line.substr(start, line.rfind('%') - start);
}

}  // namespace

EvaluationCounters count_decisions(const std::vector<bool>& positive,
                                   const std::vector<double>& posteriors) {
  EvaluationCounters c;
  for (std::size_t i = 0; i < positive.size(); ++i) {
    const std::int32_t label = positive[i] ? 1 : -1;
    c.count_label(label);
    c.count_decision(label, decided_positive(posteriors[i]));
  }
  return c;
}

Figures measure(const std::vector<bool>& positive, const std::vector<double>& posteriors) {
  const EvaluationCounters counters = count_decisions(positive, posteriors);
  const ReportLines lines = report_lines(counters);
  Figures f;
  // Without positive documents punb prints a line instead of the recall, and an F-measure of 0
  // that has no recall behind it; without a document decided positive, a precision of 0 that is
  // really 0/0; without documents, such an accuracy.
  const bool has_positives = counters.test_positives != 0;
  f.recall = has_positives ? figure_text(lines.recall) : kUndefined;
  f.precision = counters.predicted_positives != 0 ? figure_text(lines.precision) : kUndefined;
  f.f_measure = has_positives ? figure_text(lines.f_measure) : kUndefined;
  f.accuracy = positive.empty() ? kUndefined : figure_text(lines.accuracy);
  const Ranking ranking = rank_documents(posteriors, positive);
  f.auc = roc_auc(ranking);
  f.average_precision = average_precision(ranking);
  f.best_f = best_f_measure(ranking);
  return f;
}

std::string fixed_decimals(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::optional<double> figure_value(const std::string& text) {
  double v = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

}  // namespace punb::report
