#include <algorithm>
#include <cmath>

#include "report/figures.h"
#include "report/histogram.h"
#include "report/plot.h"
#include "report/pu_report.h"

namespace punb::report {

namespace {

constexpr double kWidth = 960;

struct Bar {
  const char* label;
  const char* color;
  std::optional<double> value;  // 0 to 1
  std::optional<Interval> interval;
};

// (1) The figures as bars from 0 to 100, each with its 95 % interval.
void draw_figures(SvgCanvas& svg, const PuReport& rep, double top) {
  const PuFigures& f = rep.figures;
  const PuIntervals& i = rep.intervals;
  const Bar bars[] = {
      {"recall r", "#0072B2", f.recall, i.recall},
      {"positive share q", "#999999", f.share, i.share},
      {"precision", "#E69F00", f.precision, i.precision},
      {"F1", "#009E73", f.f1, i.f1},
      {"ROC AUC x 100", "#555555", f.corrected_auc, i.corrected_auc},
      {"prior x 100", "#CC79A7", f.prior, i.prior},
  };
  heading(svg, {20, top + 18}, "Figures on the unlabeled documents, with 95 % intervals");
  const Frame fr{90, top + 50, 780, 250, 0, static_cast<double>(std::size(bars)), 0, 100};
  draw_axes(svg, fr, {}, even_ticks(0, 100, 20, 0), "", "percent");
  const double slot = fr.width / static_cast<double>(std::size(bars));
  for (std::size_t k = 0; k < std::size(bars); ++k) {
    const Bar& b = bars[k];
    const double centre = fr.left + slot * (static_cast<double>(k) + 0.5);
    svg.text({centre, fr.bottom() + 16}, b.label, 11, Anchor::middle);
    if (!b.value) {
      svg.text({centre, fr.bottom() - 6}, "undefined", 11, Anchor::middle);
      continue;
    }
    const double y = fr.at(0, *b.value * 100).y;
    svg.rect({centre - slot * 0.3, y}, slot * 0.6, fr.bottom() - y, b.color, 0.85);
    double label_y = y - 5;
    if (b.interval) {
      const double low = fr.at(0, b.interval->low * 100).y;
      const double high = fr.at(0, b.interval->high * 100).y;
      const Stroke whisker{"#000", 1.5, ""};
      svg.line({centre, low}, {centre, high}, whisker);
      svg.line({centre - 8, low}, {centre + 8, low}, whisker);
      svg.line({centre - 8, high}, {centre + 8, high}, whisker);
      label_y = std::min(label_y, high - 5);
    }
    svg.text({centre + slot * 0.08, label_y}, fixed_decimals(*b.value * 100, 1), 12, Anchor::start);
  }
  std::string prior = "prior: ";
  if (!f.prior) {
    prior += "none: precision, F1 and ROC AUC undefined";
  } else if (f.estimate) {
    prior += fixed_decimals(*f.prior, 4) + ", estimated (" + kPriorMethod +
             "): an upper bound, and so are precision, F1 and ROC AUC";
  } else {
    prior += fixed_decimals(*f.prior, 4) + ", given";
  }
  svg.text({fr.left, fr.bottom() + 40}, prior, 12);
  svg.text({fr.left, fr.bottom() + 58},
           "Lee and Liu r^2/q: " +
               (f.lee_liu ? fixed_decimals(*f.lee_liu, 4) : std::string("undefined")) +
               "; ROC AUC of the held-out positives against the unlabeled documents: " +
               (f.auc ? fixed_decimals(*f.auc, 4) : std::string("undefined")),
           12);
}

// (2) The posteriors of either set as shares of it on a log-odds axis, held-out positives up and
// unlabeled documents down, with the share of the unlabeled documents that the prior's positives
// would fill if they score as the held-out ones do.
void draw_distributions(SvgCanvas& svg, const PuReport& rep, double top) {
  std::vector<double> scores = rep.held_out;
  scores.insert(scores.end(), rep.unlabeled.begin(), rep.unlabeled.end());
  std::vector<bool> held(scores.size(), false);
  std::fill(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(rep.held_out.size()), true);
  const Histogram h = bin_posteriors(scores, held);
  const auto held_total = static_cast<double>(rep.held_out.size());
  const auto unlabeled_total = static_cast<double>(rep.unlabeled.size());
  // Bins from the lowest log-odds, then the posteriors of exactly 0 and of exactly 1.
  std::vector<double> up, down;
  for (std::size_t b = 0; b < Histogram::kBins; ++b) {
    up.push_back(static_cast<double>(h.positives[b]) / held_total * 100);
    down.push_back(static_cast<double>(h.negatives[b]) / unlabeled_total * 100);
  }
  up.push_back(static_cast<double>(h.zero_positives) / held_total * 100);
  down.push_back(static_cast<double>(h.zero_negatives) / unlabeled_total * 100);
  up.push_back(static_cast<double>(h.one_positives) / held_total * 100);
  down.push_back(static_cast<double>(h.one_negatives) / unlabeled_total * 100);
  const double most = std::max(*std::max_element(up.begin(), up.end()),
                               *std::max_element(down.begin(), down.end()));
  const double step = count_step(std::max(most, 1.0));
  const double top_share = step * std::ceil(std::max(most, 1.0) / step);
  const double unit = 2 * h.half_range / Histogram::kBins;
  const double end_slot = h.half_range + 4 * unit;
  const Frame f{150, top + 50, 660, 300, -end_slot - unit, end_slot + unit, -top_share, top_share};
  heading(svg, {20, top + 18}, "Positive posterior of either set (log-odds axis)");
  std::vector<Tick> share_ticks;
  for (double c = -top_share; c <= top_share + step / 2; c += step) {
    share_ticks.push_back({c, fixed_decimals(std::abs(c), 0)});
  }
  std::vector<Tick> x_ticks = posterior_ticks(h.half_range);
  x_ticks.push_back({-end_slot, "= 0"});
  x_ticks.push_back({end_slot, "= 1"});
  draw_axes(svg, f, x_ticks, share_ticks, "P(positive | document), spaced by log-odds",
            "% of the set");
  const double zero_y = f.at(0, 0).y;
  auto bin_left = [&](std::size_t b) {
    if (b < Histogram::kBins) return -h.half_range + static_cast<double>(b) * unit;
    return b == Histogram::kBins ? -end_slot - unit / 2 : end_slot - unit / 2;
  };
  std::vector<Point> prior_outline;
  for (std::size_t b = 0; b < up.size(); ++b) {
    const double x = f.at(bin_left(b), 0).x + 0.5;
    const double width = f.at(bin_left(b) + unit, 0).x - x - 0.5;
    if (up[b] > 0) {
      const double length = zero_y - f.at(0, up[b]).y;
      svg.rect({x, zero_y - length}, width, length, kPositiveColor, 0.85);
    }
    if (down[b] > 0) {
      const double length = zero_y - f.at(0, down[b]).y;
      svg.rect({x, zero_y}, width, length, kNegativeColor, 0.85);
    }
    if (rep.figures.prior && up[b] > 0) {
      // The prior's positives among the unlabeled documents of this bin, as an outline.
      const double y = f.at(0, -up[b] * *rep.figures.prior).y;
      svg.polyline({{x, zero_y}, {x, y}, {x + width, y}, {x + width, zero_y}},
                   {"#000", 1.5, "3 2"});
    }
  }
  for (double x : {-h.half_range - unit / 2, h.half_range + unit / 2}) {
    svg.line(f.at(x, -top_share), f.at(x, top_share), {"#999", 1, "2 3"});
  }
  svg.line({f.left, zero_y}, {f.right(), zero_y}, {kAxis, 1, ""});
  svg.line(f.at(0, -top_share), f.at(0, top_share), {"#000", 1.5, "6 3"});
  svg.text({f.at(0, 0).x - 4, f.top + 12}, "0.5 decision", 12, Anchor::end);
  if (const std::optional<PriorEstimate>& e = rep.figures.estimate;
      e && e->threshold > 0 && e->threshold < 1) {
    const double x = f.at(log_odds(e->threshold), 0).x;
    svg.line({x, f.top}, {x, f.bottom()}, {"#CC79A7", 2, "6 3"});
    svg.text({x + 4, f.bottom() - 6}, "prior estimated here", 12, Anchor::start);
  }
  svg.text({f.right() + 90, f.top + 14}, "held-out", 12, Anchor::end);
  svg.text({f.right() + 90, f.top + 30}, "positives", 12, Anchor::end);
  svg.text({f.right() + 90, f.bottom() - 22}, "unlabeled", 12, Anchor::end);
  svg.text({f.right() + 90, f.bottom() - 6}, "documents", 12, Anchor::end);
  svg.rect({f.right() + 92, f.top + 4}, 10, 10, kPositiveColor);
  svg.rect({f.right() + 92, f.bottom() - 16}, 10, 10, kNegativeColor);
  if (rep.figures.prior) {
    svg.line({f.left, f.bottom() + 56}, {f.left + 26, f.bottom() + 56}, {"#000", 1.5, "3 2"});
    svg.text({f.left + 32, f.bottom() + 60},
             "the prior's share of positives among the unlabeled documents, spread as the "
             "held-out positives are",
             12);
  }
}

}  // namespace

std::string draw_pu_report(const PuReport& rep, const std::string& stem) {
  constexpr double kHeight = 920;
  SvgCanvas svg(kWidth, kHeight, "punb run " + stem + " without labelled negatives");
  svg.text({20, 30}, "punb run: " + stem + ", positives and unlabeled documents only", 20,
           Anchor::start, true);
  svg.text({20, 52},
           std::to_string(rep.held_out.size()) + " held-out positives (" + rep.test_path + "), " +
               std::to_string(rep.unlabeled.size()) + " unlabeled documents (" +
               rep.unlabeled_path + ")",
           13);
  if (!rep.warning.empty()) svg.text({20, 72}, "warning: " + rep.warning, 13, Anchor::start, true);
  draw_figures(svg, rep, 90);
  draw_distributions(svg, rep, 470);
  return svg.finish();
}

}  // namespace punb::report
