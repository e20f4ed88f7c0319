#include "report/picture.h"

#include <algorithm>
#include <cmath>

#include "report/histogram.h"
#include "report/plot.h"

namespace punb::report {

namespace {

constexpr double kWidth = 960;

struct Series {
  const char* label;
  const char* short_label;  // under a bar
  Stroke stroke;
  std::optional<double> (*value)(const Figures&);  // in percent
};

std::optional<double> in_percent(const std::optional<double>& v) {
  return v ? std::optional<double>(*v * 100) : std::nullopt;
}

const Series kFigureSeries[] = {
    {"recall",
     "recall",
     {"#0072B2", 2, ""},
     [](const Figures& g) { return figure_value(g.recall); }},
    {"precision",
     "precision",
     {"#E69F00", 2, ""},
     [](const Figures& g) { return figure_value(g.precision); }},
    {"F-measure",
     "F-measure",
     {"#009E73", 2.5, ""},
     [](const Figures& g) { return figure_value(g.f_measure); }},
    {"accuracy",
     "accuracy",
     {"#CC79A7", 2, ""},
     [](const Figures& g) { return figure_value(g.accuracy); }},
    {"ROC AUC x 100",
     "ROC AUC x 100",
     {"#555", 2, "7 4"},
     [](const Figures& g) { return in_percent(g.auc); }},
    {"average precision x 100",
     "avg prec. x 100",
     {"#56B4E9", 2, "3 3"},
     [](const Figures& g) { return in_percent(g.average_precision); }},
};

// The percent axis starts at a multiple of 10 below the lowest figure, so that the differences
// between classifiers, often a point or two, stay visible.
double percent_floor(const std::vector<ClassifierRow>& rows, std::size_t n) {
  double lowest = 100;
  for (const Series& s : kFigureSeries) {
    for (std::size_t i = 0; i < n; ++i) {
      if (const std::optional<double> v = s.value(rows[i].figures)) lowest = std::min(lowest, *v);
    }
  }
  const double floor = std::max(0.0, std::floor((lowest - 5) / 10) * 10);
  // Over a range wider than 50 the ticks are 20 apart: the floor then is a multiple of 20 too.
  return 100 - floor > 50 ? std::floor(floor / 20) * 20 : floor;
}

// (1) for a run of one classifier: one bar per figure, its value above it.
void draw_single_classifier(SvgCanvas& svg, const ClassifierRow& row, const Frame& f) {
  const double slot = f.width / std::size(kFigureSeries);
  for (std::size_t k = 0; k < std::size(kFigureSeries); ++k) {
    const Series& s = kFigureSeries[k];
    const double centre = f.left + slot * (static_cast<double>(k) + 0.5);
    svg.text({centre, f.bottom() + 16}, s.short_label, 11, Anchor::middle);
    const std::optional<double> v = s.value(row.figures);
    if (!v) {
      svg.text({centre, f.bottom() - 6}, "undefined", 11, Anchor::middle);
      continue;
    }
    const double top = f.at(0, std::max(*v, f.y_min)).y;
    svg.rect({centre - slot * 0.3, top}, slot * 0.6, f.bottom() - top, s.stroke.color, 0.85);
    svg.text({centre, top - 5}, fixed_decimals(*v, 3), 12, Anchor::middle);
  }
}

// (1) The four figures of the 0.5 decision and the two threshold-free ones, per classifier.
void draw_classifier_figures(SvgCanvas& svg, const RunReport& run, double top) {
  // The result file's row repeats the selected classifier when there is a run log.
  const std::size_t n = run.rows.size() > 1 ? run.rows.size() - 1 : 1;
  const double floor = percent_floor(run.rows, n);
  const Frame f{90, top + 40, 600, 250, -0.5, static_cast<double>(n) - 0.5, floor, 100};
  heading(svg, {20, top + 18},
          n > 1 ? "Figures of every classifier on the test set"
                : "Figures of the classifier on the test set");
  for (std::size_t i = 0; i < n; ++i) {
    if (!run.rows[i].selected) continue;
    const Point c = f.at(static_cast<double>(i), 100);
    const double band = f.width / static_cast<double>(n);
    svg.rect({c.x - band / 2, f.top}, band, f.height, "#888", 0.18);
    svg.text({c.x, f.top - 6}, "selected", 12, Anchor::middle, true);
  }
  if (n == 1 && !run.rows[0].selected) {
    draw_axes(svg, f, {}, even_ticks(floor, 100, 100 - floor > 50 ? 20 : 10, 0), "", "percent");
    draw_single_classifier(svg, run.rows[0], f);
    return;
  }
  // At most about 20 labels, so that long runs keep them apart; the selected one always.
  const std::size_t label_step = (n + 19) / 20;
  std::vector<Tick> x_ticks;
  for (std::size_t i = 0; i < n; ++i) {
    if (i % label_step != 0 && !run.rows[i].selected) continue;
    const std::string& name = run.rows[i].name;
    x_ticks.push_back({static_cast<double>(i), name == "first classifier"       ? "first"
                                               : name.starts_with("iteration ") ? name.substr(10)
                                                                                : name});
  }
  draw_axes(svg, f, x_ticks, even_ticks(floor, 100, 100 - floor > 50 ? 20 : 10, 0),
            n > 1 ? "classifier: the first, then EM iteration t" : "", "percent");
  double legend_y = f.top + 12;
  for (const Series& s : kFigureSeries) {
    std::vector<Point> points;
    for (std::size_t i = 0; i <= n; ++i) {
      const std::optional<double> v =
          i < n ? s.value(run.rows[i].figures) : std::optional<double>();
      if (v) {
        points.push_back(f.at(static_cast<double>(i), *v));
        svg.circle(points.back(), 3, s.stroke.color, {s.stroke.color, 0, ""});
      } else {  // an undefined figure breaks the line
        svg.polyline(points, s.stroke);
        points.clear();
      }
    }
    legend_entry(svg, {f.right() + 30, legend_y}, s.stroke, s.label);
    legend_y += 20;
  }
  svg.text({f.right() + 30, legend_y + 8}, "decision at posterior 0.5;", 12);
  svg.text({f.right() + 30, legend_y + 24}, "AUC and average precision", 12);
  svg.text({f.right() + 30, legend_y + 40}, "use no threshold", 12);
}

// Where the decision "positive at and above `threshold`" stands: true and false positives.
CurvePoint counts_down_to(const Ranking& r, double threshold) {
  CurvePoint at{0, 0};
  for (const RankStep& s : r.steps) {
    if (s.score < threshold) break;
    at.true_positives += s.positives;
    at.false_positives += s.negatives;
  }
  return at;
}

// The lowest printed posterior that punb decides positive, so that the 0.5 decision is one of
// the thresholds.
double half_decision_threshold(const Ranking& r) {
  double lowest = 2;  // above every posterior: nothing decided positive
  for (const RankStep& s : r.steps) {
    if (1 - s.score <= s.score) lowest = s.score;
  }
  return lowest;
}

void undefined_note(SvgCanvas& svg, const Frame& f, const std::string& why) {
  svg.text({f.left + f.width / 2, f.top + f.height / 2}, why, 13, Anchor::middle);
}

// (2a) True positive rate against false positive rate, one vertex per distinct posterior.
void draw_roc(SvgCanvas& svg, const Ranking& r, const Figures& g, const Frame& f) {
  const std::string title =
      g.auc ? "ROC curve (AUC " + fixed_decimals(*g.auc, 4) + ")" : "ROC curve";
  heading(svg, {f.left, f.top - 12}, title);
  draw_axes(svg, f, even_ticks(0, 1, 0.2, 1), even_ticks(0, 1, 0.2, 1), "false positive rate",
            "true positive rate");
  if (!g.auc) {
    undefined_note(svg, f,
                   r.positives == 0 ? "undefined: no positive test document"
                                    : "undefined: no negative test document");
    return;
  }
  svg.line(f.at(0, 0), f.at(1, 1), {"#999", 1, "4 4"});
  const auto pos = static_cast<double>(r.positives);
  const auto neg = static_cast<double>(r.negatives);
  std::vector<Point> points = {f.at(0, 0)};
  for (const CurvePoint& c : cumulative_counts(r)) {
    points.push_back(f.at(static_cast<double>(c.false_positives) / neg,
                          static_cast<double>(c.true_positives) / pos));
  }
  svg.polyline(points, {kPositiveColor, 2, ""});
  const CurvePoint half = counts_down_to(r, half_decision_threshold(r));
  svg.circle(f.at(static_cast<double>(half.false_positives) / neg,
                  static_cast<double>(half.true_positives) / pos),
             5, "#fff", {"#000", 2, ""});
}

// (2b) Precision against recall, drawn as the steps whose area is the average precision.
void draw_precision_recall(SvgCanvas& svg, const Ranking& r, const Figures& g, const Frame& f) {
  const std::string title = g.average_precision ? "Precision-recall (average precision " +
                                                      fixed_decimals(*g.average_precision, 4) + ")"
                                                : "Precision-recall";
  heading(svg, {f.left, f.top - 12}, title);
  draw_axes(svg, f, even_ticks(0, 1, 0.2, 1), even_ticks(0, 1, 0.2, 1), "recall", "precision");
  if (!g.average_precision) {
    undefined_note(svg, f, "undefined: no positive test document");
    return;
  }
  const auto pos = static_cast<double>(r.positives);
  auto point_of = [&](const CurvePoint& c) {
    return std::pair{static_cast<double>(c.true_positives) / pos,
                     static_cast<double>(c.true_positives) /
                         static_cast<double>(c.true_positives + c.false_positives)};
  };
  std::vector<Point> points;
  double recall_before = 0;
  for (const CurvePoint& c : cumulative_counts(r)) {
    const auto [recall, precision] = point_of(c);
    if (recall == recall_before) continue;  // a step without positives adds no recall
    points.push_back(f.at(recall_before, precision));
    points.push_back(f.at(recall, precision));
    recall_before = recall;
  }
  svg.polyline(points, {kPositiveColor, 2, ""});
  const CurvePoint half = counts_down_to(r, half_decision_threshold(r));
  if (half.true_positives + half.false_positives > 0) {
    const auto [recall, precision] = point_of(half);
    svg.circle(f.at(recall, precision), 5, "#fff", {"#000", 2, ""});
  }
  if (g.best_f) {
    const auto [recall, precision] = point_of(counts_down_to(r, g.best_f->threshold));
    svg.circle(f.at(recall, precision), 5, "#009E73", {"#000", 1, ""});
  }
}

void draw_curves(SvgCanvas& svg, const RunReport& run, double top) {
  const Figures& g = run.rows.back().figures;
  const Ranking r = rank_documents(run.result, run.positive);
  heading(svg, {20, top + 18},
          run.rows.size() > 1 ? "The result file's posteriors (the selected classifier)"
                              : "The result file's posteriors");
  draw_roc(svg, r, g, {90, top + 70, 330, 330, 0, 1, 0, 1});
  draw_precision_recall(svg, r, g, {560, top + 70, 330, 330, 0, 1, 0, 1});
  const double y = top + 460;
  svg.circle({100, y - 4}, 5, "#fff", {"#000", 2, ""});
  svg.text({112, y}, "the 0.5 decision", 12);
  svg.circle({250, y - 4}, 5, "#009E73", {"#000", 1, ""});
  svg.text(
      {262, y},
      "the best F-measure" +
          (g.best_f ? " (" + fixed_decimals(g.best_f->f_measure * 100, 3) + " %)" : std::string()),
      12);
  svg.line({560, y - 4}, {590, y - 4}, {"#999", 1, "4 4"});
  svg.text({596, y}, "the ROC curve of a random ranking", 12);
}

// (3) Back-to-back histograms of the positive posterior: positive documents up, negative down.
void draw_histograms(SvgCanvas& svg, const RunReport& run, double top) {
  const Histogram h = bin_posteriors(run.result, run.positive);
  std::int64_t most = 1;
  for (int b = 0; b < Histogram::kBins; ++b) {
    const auto i = static_cast<std::size_t>(b);
    most = std::max({most, h.positives[i], h.negatives[i]});
  }
  most = std::max({most, h.zero_positives, h.zero_negatives, h.one_positives, h.one_negatives});
  const double step = count_step(static_cast<double>(most));
  const double top_count = step * std::ceil(static_cast<double>(most) / step);
  // Posteriors printed as exactly 0 or 1 have no log-odds: they get a bin of their own at
  // either end, set apart from the log-odds axis.
  const double unit = 2 * h.half_range / Histogram::kBins;
  const double end_slot = h.half_range + 4 * unit;
  const Frame f{150, top + 50, 660, 300, -end_slot - unit, end_slot + unit, -top_count, top_count};
  heading(svg, {20, top + 18}, "Positive posterior of the test documents (log-odds axis)");
  std::vector<Tick> count_ticks;
  for (double c = -top_count; c <= top_count + step / 2; c += step) {
    count_ticks.push_back({c, fixed_decimals(std::abs(c), 0)});
  }
  std::vector<Tick> x_ticks = posterior_ticks(h.half_range);
  x_ticks.push_back({-end_slot, "= 0"});
  x_ticks.push_back({end_slot, "= 1"});
  draw_axes(svg, f, x_ticks, count_ticks, "P(positive | document), spaced by log-odds",
            "documents");
  const double zero_y = f.at(0, 0).y;
  // Positive documents' bars rise from the middle line, negative documents' bars hang from it.
  auto bars = [&](double from, std::int64_t positives, std::int64_t negatives) {
    const double x = f.at(from, 0).x + 0.5;
    const double width = f.at(from + unit, 0).x - x - 0.5;
    if (positives > 0) {
      const double length = zero_y - f.at(0, static_cast<double>(positives)).y;
      svg.rect({x, zero_y - length}, width, length, kPositiveColor, 0.85);
    }
    if (negatives > 0) {
      const double length = zero_y - f.at(0, static_cast<double>(negatives)).y;
      svg.rect({x, zero_y}, width, length, kNegativeColor, 0.85);
    }
  };
  for (int b = 0; b < Histogram::kBins; ++b) {
    const auto i = static_cast<std::size_t>(b);
    bars(-h.half_range + b * unit, h.positives[i], h.negatives[i]);
  }
  bars(-end_slot - unit / 2, h.zero_positives, h.zero_negatives);
  bars(end_slot - unit / 2, h.one_positives, h.one_negatives);
  for (double x : {-h.half_range - unit / 2, h.half_range + unit / 2}) {
    svg.line(f.at(x, -top_count), f.at(x, top_count), {"#999", 1, "2 3"});
  }
  svg.line({f.left, zero_y}, {f.right(), zero_y}, {kAxis, 1, ""});
  svg.line(f.at(0, -top_count), f.at(0, top_count), {"#000", 1.5, "6 3"});
  // Each line's label on the side away from the other line.
  const std::optional<BestF>& best = run.rows.back().figures.best_f;
  const bool best_below_half = best && best->threshold < 0.5;
  svg.text({f.at(0, 0).x + (best_below_half ? 4 : -4), f.top + 12}, "0.5 decision", 12,
           best_below_half ? Anchor::start : Anchor::end);
  if (best && best->threshold > 0 && best->threshold < 1) {
    const double x = f.at(log_odds(best->threshold), 0).x;
    svg.line({x, f.top}, {x, f.bottom()}, {"#009E73", 2, "6 3"});
    svg.text({x + (best_below_half ? -4 : 4), f.bottom() - 6}, "best F threshold", 12,
             best_below_half ? Anchor::end : Anchor::start);
  }
  svg.text({f.right() + 90, f.top + 14}, "positive test", 12, Anchor::end);
  svg.text({f.right() + 90, f.top + 30}, "documents", 12, Anchor::end);
  svg.text({f.right() + 90, f.bottom() - 22}, "negative test", 12, Anchor::end);
  svg.text({f.right() + 90, f.bottom() - 6}, "documents", 12, Anchor::end);
  svg.rect({f.right() + 92, f.top + 4}, 10, 10, kPositiveColor);
  svg.rect({f.right() + 92, f.bottom() - 16}, 10, 10, kNegativeColor);
}

}  // namespace

std::string draw_run(const RunReport& run, const std::string& stem) {
  constexpr double kHeight = 1380;
  SvgCanvas svg(kWidth, kHeight, "punb run " + stem);
  std::int64_t positives = 0;
  for (bool p : run.positive) positives += p;
  svg.text({20, 30}, "punb run: " + stem, 20, Anchor::start, true);
  svg.text({20, 52},
           std::to_string(run.positive.size()) + " test documents: " + std::to_string(positives) +
               " positive, " +
               std::to_string(static_cast<std::int64_t>(run.positive.size()) - positives) +
               " negative",
           13);
  draw_classifier_figures(svg, run, 70);
  draw_curves(svg, run, 450);
  draw_histograms(svg, run, 960);
  return svg.finish();
}

}  // namespace punb::report
