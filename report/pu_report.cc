#include "report/pu_report.h"

#include <algorithm>
#include <cmath>

#include "docfile/fatal.h"
#include "docfile/runfiles.h"
#include "report/figures.h"
#include "report/histogram.h"
#include "report/inputs.h"
#include "report/plot.h"

namespace punb::report {

namespace {

// Takes the values of `part` out of `whole`, each once, when `whole` holds them all.
bool take_out(std::vector<double>& whole, std::vector<double> part) {
  std::vector<double> sorted = whole;
  std::sort(sorted.begin(), sorted.end());
  std::sort(part.begin(), part.end());
  std::vector<double> rest;
  rest.reserve(sorted.size());
  std::size_t k = 0;
  for (double v : sorted) {
    if (k < part.size() && part[k] == v) {
      ++k;
    } else {
      rest.push_back(v);
    }
  }
  if (k < part.size()) return false;
  whole = std::move(rest);
  return true;
}

}  // namespace

PuReport load_pu_report(const std::string& stem, const std::string& unlabeled_path,
                        std::optional<double> prior, WorkerPool& pool) {
  const RunFiles files = RunFiles::from_stem(stem);
  PuReport rep;
  rep.test_path = files.test;
  rep.unlabeled_path = unlabeled_path;
  const std::vector<bool> positive = read_labels(files.test);
  const std::vector<double> result = read_result_file(files.result, positive.size(), files.test);
  for (std::size_t i = 0; i < positive.size(); ++i) {
    if (positive[i]) {
      rep.held_out.push_back(result[i]);
    } else {
      ++rep.negatives_left_out;
    }
  }
  if (rep.held_out.empty()) {
    throw Fatal(kBadInput, files.test +
                               ": no positive test document, so no held-out positives "
                               "to measure the classifier with");
  }
  rep.unlabeled = read_posteriors(unlabeled_path);
  // The held-out positives of punb-vectorize are unlabeled training documents too, so that the
  // classifier learns from them as from the unlabeled positives: scored among them, each has the
  // very digits of its line in the result file. They are taken out, and the figures are those of
  // the other unlabeled documents; a file without them all is taken whole.
  rep.held_out_taken_out = take_out(rep.unlabeled, rep.held_out);
  if (rep.unlabeled.empty()) {
    throw Fatal(kBadInput, unlabeled_path + ": no posteriors of unlabeled documents" +
                               (rep.held_out_taken_out ? " besides the held-out positives" : ""));
  }
  std::vector<double> scores = rep.held_out;
  scores.insert(scores.end(), rep.unlabeled.begin(), rep.unlabeled.end());
  std::vector<bool> held(scores.size(), false);
  std::fill(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(rep.held_out.size()), true);
  rep.ranking = rank_documents(scores, held);
  rep.figures = measure_pu(rep.ranking, prior);
  rep.intervals = bootstrap_pu(rep.ranking, prior, kBootstrapSamples, kBootstrapSeed, pool);
  rep.warning = degenerate_decision(rep.figures.counts);
  return rep;
}

namespace {

constexpr const char* kUndefined = "-";

enum class Unit { percent, fraction, count };

struct FigureRow {
  const char* name;      // in the aligned table
  const char* tsv_name;  // in the tab-separated one
  Unit unit;
  std::optional<double> value;
  std::optional<Interval> interval;
  bool exact = false;  // no sampling error: a count, or the prior given
};

std::vector<FigureRow> figure_rows(const PuReport& rep) {
  const PuFigures& f = rep.figures;
  const PuIntervals& i = rep.intervals;
  const bool estimated = !!f.estimate;
  return {
      {"held-out positives", "held_out_positives", Unit::count,
       static_cast<double>(f.counts.positives), std::nullopt, true},
      {"unlabeled documents", "unlabeled_documents", Unit::count,
       static_cast<double>(f.counts.unlabeled), std::nullopt, true},
      {"recall r", "recall", Unit::percent, f.recall, i.recall},
      {"positive share q", "positive_share", Unit::percent, f.share, i.share},
      {"Lee and Liu r^2/q", "lee_liu", Unit::fraction, f.lee_liu, i.lee_liu},
      {estimated ? "prior (estimated)" : "prior (given)",
       estimated ? "prior_estimated" : "prior_given", Unit::fraction, f.prior,
       estimated ? i.prior : std::nullopt, !estimated},
      {"precision", "precision", Unit::percent, f.precision, i.precision},
      {"F1", "f1", Unit::percent, f.f1, i.f1},
      {"ROC AUC", "roc_auc", Unit::fraction, f.corrected_auc, i.corrected_auc},
      {"ROC AUC against unlabeled", "roc_auc_unlabeled", Unit::fraction, f.auc, i.auc},
  };
}

std::string value_text(std::optional<double> v, Unit unit, TableStyle style) {
  if (!v) return kUndefined;
  if (unit == Unit::count) return fixed_decimals(*v, 0);
  // The aligned table in punb's own units for reading, the tab-separated one as fractions with
  // the digits that other programs compare.
  if (style == TableStyle::tsv) return posterior_text(*v);
  return unit == Unit::percent ? fixed_decimals(*v * 100, 3) : fixed_decimals(*v, 4);
}

std::string tsv(const PuReport& rep) {
  std::string out = "figure\tvalue\tlow\thigh\n";
  for (const FigureRow& row : figure_rows(rep)) {
    std::string cells[] = {row.tsv_name, value_text(row.value, row.unit, TableStyle::tsv), "-",
                           "-"};
    if (row.interval) {
      cells[2] = value_text(row.interval->low, row.unit, TableStyle::tsv);
      cells[3] = value_text(row.interval->high, row.unit, TableStyle::tsv);
    }
    for (std::size_t i = 0; i < std::size(cells); ++i) {
      out.append(cells[i]);
      out.push_back(i + 1 < std::size(cells) ? '\t' : '\n');
    }
  }
  return out;
}

std::string prior_note(const PuReport& rep) {
  const PuFigures& f = rep.figures;
  if (!f.estimate) {
    return f.prior ? "prior: given (--prior)\n"
                   : "prior: none could be estimated, so precision, F1 and ROC AUC are left out\n";
  }
  const PriorEstimate& e = *f.estimate;
  return "prior: estimated by the " + std::string(kPriorMethod) + " at posterior " +
         posterior_text(e.threshold) + ", where " + std::to_string(e.positives) + " of the " +
         std::to_string(f.counts.positives) + "\n  held-out positives and " +
         std::to_string(e.unlabeled) + " of the " + std::to_string(f.counts.unlabeled) +
         " unlabeled documents score at least that: an upper bound\n"
         "  of the share of positives among the unlabeled documents (their negatives there count "
         "as\n  positives), and so are precision, F1 and ROC AUC computed with it; --prior gives a "
         "known one\n";
}

std::string aligned(const PuReport& rep) {
  std::vector<std::vector<std::string>> table = {{"figure", "value", "95 % interval"}};
  for (const FigureRow& row : figure_rows(rep)) {
    std::string interval = row.exact ? "" : kUndefined;
    if (row.interval) {
      interval = value_text(row.interval->low, row.unit, TableStyle::aligned) + " .. " +
                 value_text(row.interval->high, row.unit, TableStyle::aligned);
    }
    table.push_back({row.name, value_text(row.value, row.unit, TableStyle::aligned), interval});
  }
  std::vector<std::size_t> width(3, 0);
  for (const auto& line : table) {
    for (std::size_t i = 0; i < line.size(); ++i) width[i] = std::max(width[i], line[i].size());
  }
  std::string out;
  for (const auto& line : table) {
    std::string text = line[0] + std::string(width[0] - line[0].size(), ' ') + "  " +
                       std::string(width[1] - line[1].size(), ' ') + line[1];
    if (!line[2].empty()) text += "  " + line[2];
    out += text + "\n";
  }
  out += "held-out positives: the positive lines of " + rep.test_path + "\n";
  out += "unlabeled documents: the lines of " + rep.unlabeled_path +
         (rep.held_out_taken_out ? ", but the held-out positives'" : "") + "\n";
  out +=
      "r, q: the shares of either set that punb decides positive (1 - p <= p); r, q, precision, "
      "F1 in %\n"
      "precision: prior x r / q (at most 1); F1: from precision and r; ROC AUC: (A - prior / 2) /\n"
      "  (1 - prior), A the ROC AUC of the held-out positives against the unlabeled documents "
      "(last row)\n";
  out += prior_note(rep);
  out += "95 % intervals: percentiles of " + std::to_string(kBootstrapSamples) +
         " bootstrap samples of both sets (seed " + std::to_string(kBootstrapSeed) + ")\n";
  if (!rep.warning.empty()) out += "warning: " + rep.warning + "\n";
  return out;
}

}  // namespace

std::string format_pu_table(const PuReport& report, TableStyle style) {
  return style == TableStyle::tsv ? tsv(report) : aligned(report);
}

}  // namespace punb::report
