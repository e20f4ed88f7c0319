#include "report/table.h"

#include <algorithm>
#include <charconv>

namespace punb::report {

namespace {

constexpr const char* kUndefined = "-";

std::vector<std::string> cells(const ClassifierRow& row, TableStyle style) {
  const Figures& f = row.figures;
  // Threshold-free figures are fractions; the aligned table rounds them for reading, the
  // tab-separated one keeps the digits that other programs compare.
  const int ranking_decimals = style == TableStyle::tsv ? 16 : 4;
  auto optional_fixed = [&](const std::optional<double>& v, int decimals) {
    return v ? fixed_decimals(*v, decimals) : std::string(kUndefined);
  };
  std::vector<std::string> c;
  if (style == TableStyle::tsv) {
    c = {row.name, row.selected ? "1" : "0"};
  } else {
    c = {row.selected ? row.name + " *" : row.name};
  }
  for (const std::string* s : {&f.recall, &f.precision, &f.f_measure, &f.accuracy}) c.push_back(*s);
  c.push_back(optional_fixed(f.auc, ranking_decimals));
  c.push_back(optional_fixed(f.average_precision, ranking_decimals));
  if (f.best_f) {
    c.push_back(fixed_decimals(f.best_f->f_measure * 100, 3));
    c.push_back(posterior_text(f.best_f->threshold));
  } else {
    c.insert(c.end(), {kUndefined, kUndefined});
  }
  return c;
}

std::string tsv(const std::vector<ClassifierRow>& rows) {
  std::string out =
      "classifier\tselected\trecall\tprecision\tf_measure\taccuracy\troc_auc\taverage_precision\t"
      "best_f_measure\tbest_f_threshold\n";
  for (const ClassifierRow& row : rows) {
    const std::vector<std::string> c = cells(row, TableStyle::tsv);
    for (std::size_t i = 0; i < c.size(); ++i) out += c[i] + (i + 1 < c.size() ? "\t" : "\n");
  }
  return out;
}

std::string aligned(const std::vector<ClassifierRow>& rows) {
  std::vector<std::vector<std::string>> table = {{"classifier", "recall", "precision", "F-measure",
                                                  "accuracy", "ROC AUC", "avg prec", "best F",
                                                  "at threshold"}};
  for (const ClassifierRow& row : rows) table.push_back(cells(row, TableStyle::aligned));
  std::vector<std::size_t> width(table[0].size(), 0);
  for (const auto& line : table) {
    for (std::size_t i = 0; i < line.size(); ++i) width[i] = std::max(width[i], line[i].size());
  }
  std::string out;
  for (const auto& line : table) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const std::string pad(width[i] - line[i].size(), ' ');
      // Names read from the left, numbers line up at their right end.
      text += i == 0 ? line[i] + pad : "  " + pad + line[i];
    }
    out += text + "\n";
  }
  if (std::any_of(rows.begin(), rows.end(), [](const auto& r) { return r.selected; })) {
    out += "* the selected classifier: the result file holds its posteriors\n";
  }
  return out +
         "recall .. accuracy: the decision at posterior 0.5, in %; ROC AUC and average precision "
         "(avg prec): 0 to 1\n"
         "best F: the highest F-measure (in %) of a decision 'positive at and above a threshold', "
         "and that threshold\n";
}

}  // namespace

std::string posterior_text(double p) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, p, std::chars_format::fixed, 16).ptr;
  return {text, end};
}

std::string format_table(const std::vector<ClassifierRow>& rows, TableStyle style) {
  return style == TableStyle::tsv ? tsv(rows) : aligned(rows);
}

}  // namespace punb::report
