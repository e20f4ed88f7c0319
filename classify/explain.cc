#include "classify/explain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace punb::classify {

namespace {

void append_number(std::string& out, const char* format, double v) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, format, v);
  out.append(text, static_cast<std::size_t>(n));
}

}  // namespace

WordWeights::WordWeights(const SavedModel& model, const Classifier& classifier)
    : model_(model),
      classifier_(classifier),
      totals_(model.indices.empty() ? 0 : std::size_t{model.indices.back()} + 1) {}

std::string WordWeights::name(std::uint32_t index) const {
  if (model_.text) {
    const std::vector<std::uint32_t>& indices = model_.text->indices;
    const auto at = std::lower_bound(indices.begin(), indices.end(), index);
    if (at != indices.end() && *at == index)
      return model_.text->words[static_cast<std::size_t>(at - indices.begin())];
  }
  return std::to_string(index);
}

std::string WordWeights::strongest_lines(std::uint64_t k) const {
  struct Weighted {
    double r;
    std::uint32_t index;
  };
  std::vector<Weighted> all;
  all.reserve(model_.indices.size());
  for (std::uint32_t i : model_.indices) all.push_back({weight(i), i});
  const auto highest = [](const Weighted& a, const Weighted& b) {
    return a.r > b.r || (a.r == b.r && a.index < b.index);
  };
  const auto lowest = [](const Weighted& a, const Weighted& b) {
    return a.r < b.r || (a.r == b.r && a.index < b.index);
  };
  const std::size_t top = static_cast<std::size_t>(std::min<std::uint64_t>(k, all.size()));
  std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(top), all.end(),
                    highest);
  const std::size_t bottom = static_cast<std::size_t>(std::min<std::uint64_t>(k, all.size() - top));
  std::partial_sort(all.begin() + static_cast<std::ptrdiff_t>(top),
                    all.begin() + static_cast<std::ptrdiff_t>(top + bottom), all.end(), lowest);
  std::string out;
  for (std::size_t j = 0; j < top + bottom; ++j) {
    append_number(out, "%+.6f", all[j].r);
    out.append("\t").append(name(all[j].index)).append("\n");
  }
  return out;
}

std::vector<Contribution> WordWeights::contributions(const DocStore::Document& doc) {
  // A line may name an index more than once: its contribution is that of its total count.
  // A pair with the count 0 puts no word in the document.
  doc.for_each_pair([&](std::uint32_t index, std::uint32_t count) {
    if (count == 0) return;
    if (totals_[index] == 0) seen_.push_back(index);
    totals_[index] += count;
  });
  std::vector<Contribution> out;
  out.reserve(seen_.size());
  for (std::uint32_t index : seen_) {
    out.push_back({index, static_cast<double>(totals_[index]) * weight(index)});
    totals_[index] = 0;
  }
  seen_.clear();
  std::sort(out.begin(), out.end(), [](const Contribution& a, const Contribution& b) {
    const double x = std::fabs(a.value);
    const double y = std::fabs(b.value);
    return x > y || (x == y && a.index < b.index);
  });
  return out;
}

void WordWeights::explain(const DocStore::Document& doc, std::uint64_t n, std::string& out) {
  const std::vector<Contribution> all = contributions(doc);
  const std::size_t shown = static_cast<std::size_t>(std::min<std::uint64_t>(n, all.size()));
  for (std::size_t j = 0; j < shown; ++j) {
    if (j > 0) out += ' ';
    out.append(name(all[j].index)).append(":");
    append_number(out, "%+.4f", all[j].value);
  }
}

}  // namespace punb::classify
