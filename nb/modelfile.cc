#include "nb/modelfile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <unordered_set>

#include "docfile/fatal.h"
#include "docfile/fileio.h"
#include "words/utf8.h"

namespace punb {

namespace {

constexpr std::string_view kMagic = "punb-model";
constexpr std::int64_t kFormatVersion = 1;
constexpr std::string_view kChecksumField = "checksum fnv1a64 ";

std::uint64_t fnv1a64(std::string_view text) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ull;
  }
  return h;
}

// The shortest text that reads back as the same double, in the C locale whatever the user's.
void append_double(std::string& out, double v) {
  char text[32];
  out.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

void append_field(std::string& out, std::string_view key, std::string_view value) {
  out.append(key).append(" ").append(value).append("\n");
}
void append_field(std::string& out, std::string_view key, std::int64_t value) {
  append_field(out, key, std::to_string(value));
}
void append_field(std::string& out, std::string_view key, double value) {
  out.append(key).append(" ");
  append_double(out, value);
  out.append("\n");
}

const char* mode_name(RunMode mode) {
  return mode == RunMode::naive_bayes ? "naive-bayes" : "positive-unlabeled";
}

}  // namespace

std::string SavedModel::classifier_name() const {
  if (mode == RunMode::naive_bayes) return "naive Bayes model";
  return selected == 0 ? "Naivebayes Result" : "Iteration " + std::to_string(selected);
}

void keep_words(const Model& model, const VocabularyMask& mask, const Vocabulary& vocab,
                SavedModel& saved) {
  saved.priors = model.priors;
  saved.indices.clear();
  saved.neg.clear();
  saved.pos.clear();
  for (std::int64_t i = 0; i <= vocab.largest && vocab.size > 0; ++i) {
    const auto at = static_cast<std::size_t>(i);
    if (mask[at] != 1) continue;
    saved.indices.push_back(static_cast<std::uint32_t>(i));
    saved.neg.push_back(model.neg[at]);
    saved.pos.push_back(model.pos[at]);
  }
}

std::string format_model_file(const SavedModel& m) {
  std::string out;
  out.reserve(256 + m.indices.size() * 48);
  append_field(out, kMagic, kFormatVersion);
  append_field(out, "punb-version", m.punb_version);
  append_field(out, "mode", mode_name(m.mode));
  append_field(out, "smoothing-weight", m.smoothing_weight);
  append_field(out, "spy-fraction", m.spy_fraction);
  append_field(out, "threshold-rate", m.threshold_rate);
  append_field(out, "iterations", std::int64_t{m.iterations});
  append_field(out, "classifier", m.classifier_name());
  append_field(out, "selected", m.selected);
  append_field(out, "positive-documents", m.positive_documents);
  append_field(out, "unlabeled-documents", m.unlabeled_documents);
  const bool pu = m.mode == RunMode::positive_unlabeled;
  if (pu) {
    append_field(out, "spies", m.spies);
    append_field(out, "reliable-negatives", m.reliable_negatives);
    append_field(out, "spy-threshold", m.spy_threshold);
  }
  if (m.feature_columns) append_field(out, "feature-columns", *m.feature_columns);
  append_field(out, "prior-negative", m.priors.neg);
  append_field(out, "prior-positive", m.priors.pos);
  append_field(out, "vocabulary-size", static_cast<std::int64_t>(m.indices.size()));
  append_field(out, "lowest-index",
               m.indices.empty() ? std::string("none") : std::to_string(m.indices.front()));
  append_field(out, "largest-index",
               m.indices.empty() ? std::string("none") : std::to_string(m.indices.back()));
  if (pu) {
    append_field(out, "sequence", static_cast<std::int64_t>(m.sequence.size()));
    for (std::size_t t = 0; t < m.sequence.size(); ++t) {
      out.append(std::to_string(t)).append(" ");
      append_double(out, m.sequence[t].positive_prior);
      out.append(" ");
      append_double(out, m.sequence[t].miss_rate);
      out.append("\n");
    }
  }
  append_field(out, "words", static_cast<std::int64_t>(m.indices.size()));
  for (std::size_t k = 0; k < m.indices.size(); ++k) {
    out.append(std::to_string(m.indices[k])).append(" ");
    append_double(out, m.neg[k]);
    out.append(" ");
    append_double(out, m.pos[k]);
    out.append("\n");
  }
  if (!m.text) {
    append_field(out, "text-vocabulary", "none");
  } else {
    const TextVocabulary& t = *m.text;
    append_field(out, "text-vocabulary",
                 std::to_string(t.words.size()) + " fold " + (t.folded ? "yes" : "no") +
                     " min-length " + std::to_string(t.min_length));
    for (std::size_t k = 0; k < t.words.size(); ++k) {
      out.append(std::to_string(t.indices[k])).append("\t").append(t.words[k]).append("\n");
    }
  }
  char sum[20];
  std::snprintf(sum, sizeof sum, "%016llx", static_cast<unsigned long long>(fnv1a64(out)));
  out.append(kChecksumField).append(sum).append("\n");
  return out;
}

namespace {

// Walks the lines of a model file, naming the file and line of whatever does not parse.
class ModelReader {
 public:
  ModelReader(std::string_view text, const std::string& path) : text_(text), path_(path) {}

  [[noreturn]] void fail(const std::string& what) const {
    throw Fatal(kBadModelFile, path_ + ":" + std::to_string(line_) + ": " + what);
  }

  bool at_end() const { return pos_ >= text_.size(); }

  std::string_view next_line() {
    ++line_;
    if (at_end()) fail("the file ends early (truncated?)");
    const std::size_t end = text_.find('\n', pos_);
    const std::string_view line = text_.substr(pos_, end - pos_);
    pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    return line;
  }

  // The next line as `key value`.
  std::pair<std::string_view, std::string_view> next_field() {
    const std::string_view line = next_line();
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || space == 0) fail("expected 'field value'");
    return {line.substr(0, space), line.substr(space + 1)};
  }

  std::int64_t integer(std::string_view text, std::string_view what, std::int64_t low,
                       std::int64_t high) const {
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
      fail(std::string(what) + " '" + std::string(text) + "' is not a whole number");
    if (v < low || v > high) {
      fail(std::string(what) + " " + std::to_string(v) + " is outside " + std::to_string(low) +
           ".." + std::to_string(high));
    }
    return v;
  }

  double real(std::string_view text, std::string_view what) const {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
      fail(std::string(what) + " '" + std::string(text) + "' is not a number");
    if (!std::isfinite(v)) fail(std::string(what) + " is not finite");
    return v;
  }

  // A probability that scoring takes the logarithm of: in (0, 1], so the logarithm is at most 0.
  double probability(std::string_view text, std::string_view what) const {
    const double p = real(text, what);
    if (!(p > 0.0 && p <= 1.0))
      fail(std::string(what) + " " + std::string(text) + " is not in (0, 1]");
    return p;
  }

  double share(std::string_view text, std::string_view what) const {
    const double v = real(text, what);
    if (!(v >= 0.0 && v <= 1.0))
      fail(std::string(what) + " " + std::string(text) + " is not in 0..1");
    return v;
  }

  // Refuses `entries`, a declared count of lines to come, when fewer lines come before the
  // checksum: tables are sized by such counts, and a small file must not cost a large table.
  void check_lines_follow(std::int64_t entries, std::string_view what) const {
    const auto left =
        std::count(text_.begin() + static_cast<std::ptrdiff_t>(pos_), text_.end(), '\n') - 1;
    if (entries > left) {
      fail(std::string(what) + " " + std::to_string(entries) + " is more entries than the " +
           std::to_string(left) + " lines that follow");
    }
  }

  // Splits a line into exactly `n` fields at `delimiter`.
  std::vector<std::string_view> split(std::string_view line, char delimiter, std::size_t n,
                                      std::string_view expected) const {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
      const std::size_t end = line.find(delimiter, at);
      parts.push_back(line.substr(at, end - at));
      if (end == std::string_view::npos) break;
      at = end + 1;
    }
    if (parts.size() != n) fail("expected " + std::string(expected));
    return parts;
  }

 private:
  std::string_view text_;
  const std::string& path_;
  std::size_t pos_ = 0;
  std::int64_t line_ = 0;
};

constexpr std::int64_t kLargestIndex = kIndexCount - 1;

// The header fields, each once, in any order; which are required depends on the mode.
class Header {
 public:
  explicit Header(ModelReader& in) : in_(in) {}

  void read_until(std::initializer_list<std::string_view> section_keys,
                  std::pair<std::string_view, std::string_view>& section) {
    for (;;) {
      const auto field = in_.next_field();
      for (std::string_view k : section_keys) {
        if (field.first == k) {
          section = field;
          return;
        }
      }
      if (std::find(std::begin(kKnown), std::end(kKnown), field.first) == std::end(kKnown))
        in_.fail("unknown field '" + std::string(field.first) + "'");
      if (!values_.emplace(field.first, field.second).second)
        in_.fail("field '" + std::string(field.first) + "' is repeated");
    }
  }

  bool has(std::string_view key) const { return values_.count(key) != 0; }
  std::string_view operator[](std::string_view key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) in_.fail("field '" + std::string(key) + "' is missing");
    return it->second;
  }
  void refuse(std::string_view key, std::string_view why) const {
    if (has(key)) in_.fail("field '" + std::string(key) + "' " + std::string(why));
  }

 private:
  static constexpr std::string_view kKnown[] = {"punb-version",
                                                "mode",
                                                "smoothing-weight",
                                                "spy-fraction",
                                                "threshold-rate",
                                                "iterations",
                                                "classifier",
                                                "selected",
                                                "positive-documents",
                                                "unlabeled-documents",
                                                "spies",
                                                "reliable-negatives",
                                                "spy-threshold",
                                                "feature-columns",
                                                "prior-negative",
                                                "prior-positive",
                                                "vocabulary-size",
                                                "lowest-index",
                                                "largest-index"};
  ModelReader& in_;
  std::map<std::string_view, std::string_view, std::less<>> values_;
};

void read_fields(const Header& h, const ModelReader& in, SavedModel& m) {
  m.punb_version = h["punb-version"];
  const std::string_view mode = h["mode"];
  if (mode == mode_name(RunMode::naive_bayes)) {
    m.mode = RunMode::naive_bayes;
  } else if (mode == mode_name(RunMode::positive_unlabeled)) {
    m.mode = RunMode::positive_unlabeled;
  } else {
    in.fail("mode '" + std::string(mode) + "' is neither naive-bayes nor positive-unlabeled");
  }
  m.smoothing_weight = in.real(h["smoothing-weight"], "smoothing-weight");
  if (!(m.smoothing_weight > 0)) in.fail("smoothing-weight is not above 0");
  m.spy_fraction = in.share(h["spy-fraction"], "spy-fraction");
  m.threshold_rate = in.share(h["threshold-rate"], "threshold-rate");
  m.iterations = static_cast<std::int32_t>(in.integer(h["iterations"], "iterations", 0, INT32_MAX));
  m.positive_documents = in.integer(h["positive-documents"], "positive-documents", 1, INT64_MAX);
  m.unlabeled_documents = in.integer(h["unlabeled-documents"], "unlabeled-documents", 0, INT64_MAX);
  const bool pu = m.mode == RunMode::positive_unlabeled;
  m.selected = in.integer(h["selected"], "selected", 0, pu ? std::max(m.iterations - 1, 0) : 0);
  if (pu) {
    m.spies = in.integer(h["spies"], "spies", 0, m.positive_documents - 1);
    m.reliable_negatives =
        in.integer(h["reliable-negatives"], "reliable-negatives", 1, m.unlabeled_documents);
    m.spy_threshold = in.real(h["spy-threshold"], "spy-threshold");
  } else {
    for (std::string_view k : {"spies", "reliable-negatives", "spy-threshold"})
      h.refuse(k, "belongs to positive-unlabeled mode");
  }
  if (h["classifier"] != m.classifier_name()) {
    in.fail("classifier '" + std::string(h["classifier"]) + "' is not '" + m.classifier_name() +
            "', the one selected");
  }
  if (h.has("feature-columns")) {
    m.feature_columns = in.integer(h["feature-columns"], "feature-columns", 0, kIndexCount - 1);
  }
  m.priors.neg = in.probability(h["prior-negative"], "prior-negative");
  m.priors.pos = in.probability(h["prior-positive"], "prior-positive");
}

void read_sequence(ModelReader& in, std::string_view count, SavedModel& m) {
  const std::int64_t n =
      in.integer(count, "sequence", m.iterations + std::int64_t{1}, m.iterations + std::int64_t{1});
  in.check_lines_follow(n, "sequence");
  m.sequence.resize(static_cast<std::size_t>(n));
  for (std::int64_t t = 0; t < n; ++t) {
    const auto f = in.split(in.next_line(), ' ', 3, "'entry prior miss-rate'");
    in.integer(f[0], "sequence entry", t, t);
    m.sequence[static_cast<std::size_t>(t)] = {in.share(f[1], "positive prior"),
                                               in.share(f[2], "miss rate")};
  }
}

void read_words(ModelReader& in, const Header& h, std::string_view count, SavedModel& m) {
  const std::int64_t n = in.integer(count, "words", 0, kIndexCount);
  if (in.integer(h["vocabulary-size"], "vocabulary-size", 0, kIndexCount) != n)
    in.fail("words " + std::to_string(n) + " does not match the field vocabulary-size");
  in.check_lines_follow(n, "words");
  const std::int64_t lowest_counted = m.mode == RunMode::naive_bayes ? 1 : 0;
  m.indices.resize(static_cast<std::size_t>(n));
  m.neg.resize(m.indices.size());
  m.pos.resize(m.indices.size());
  for (std::size_t k = 0; k < m.indices.size(); ++k) {
    const auto f = in.split(in.next_line(), ' ', 3, "'index negative positive'");
    const std::int64_t index = in.integer(f[0], "index", lowest_counted, kLargestIndex);
    if (k > 0 && index <= m.indices[k - 1])
      in.fail("index " + std::to_string(index) + " is repeated or out of order");
    m.indices[k] = static_cast<std::uint32_t>(index);
    m.neg[k] = in.probability(f[1], "negative word probability");
    m.pos[k] = in.probability(f[2], "positive word probability");
  }
  // The summary fields must describe the words that came.
  for (const auto& [key, want] :
       {std::pair{"lowest-index", m.indices.empty() ? -1 : std::int64_t{m.indices.front()}},
        std::pair{"largest-index", m.indices.empty() ? -1 : std::int64_t{m.indices.back()}}}) {
    const std::string_view v = h[key];
    const std::int64_t got = v == "none" ? -1 : in.integer(v, key, 0, kLargestIndex);
    if (got != want) in.fail(std::string(key) + " does not match the words");
  }
}

void read_text_vocabulary(ModelReader& in, SavedModel& m) {
  const auto [key, value] = in.next_field();
  if (key != "text-vocabulary") in.fail("expected the field 'text-vocabulary'");
  if (value == "none") return;
  const auto f = in.split(value, ' ', 5, "'text-vocabulary N fold yes|no min-length M'");
  if (f[1] != "fold" || (f[2] != "yes" && f[2] != "no") || f[3] != "min-length")
    in.fail("expected 'text-vocabulary N fold yes|no min-length M'");
  TextVocabulary& t = m.text.emplace();
  const std::int64_t n = in.integer(f[0], "text-vocabulary", 1, kLargestIndex);
  in.check_lines_follow(n, "text-vocabulary");
  t.folded = f[2] == "yes";
  t.min_length = static_cast<std::uint64_t>(in.integer(f[4], "min-length", 1, INT64_MAX));
  t.indices.resize(static_cast<std::size_t>(n));
  t.words.resize(t.indices.size());
  std::unordered_set<std::string_view> seen;
  for (std::size_t k = 0; k < t.indices.size(); ++k) {
    const auto w = in.split(in.next_line(), '\t', 2, "'index<TAB>word'");
    const std::int64_t index = in.integer(w[0], "word index", 1, kLargestIndex);
    if (k > 0 && index <= t.indices[k - 1])
      in.fail("word index " + std::to_string(index) + " is repeated or out of order");
    if (w[1].empty() || !punb::words::well_formed_utf8(w[1]))
      in.fail("the word is empty or not UTF-8");
    if (!seen.insert(w[1]).second) in.fail("the word '" + std::string(w[1]) + "' is repeated");
    t.indices[k] = static_cast<std::uint32_t>(index);
    t.words[k] = w[1];
  }
}

}  // namespace

SavedModel parse_model_file(std::string_view text, const std::string& path) {
  ModelReader in(text, path);
  SavedModel m;
  if (text.empty()) throw Fatal(kBadModelFile, path + ":1: the file is empty");
  // The first line says what the file is, before anything else is judged.
  {
    const std::string_view first = in.next_line();
    if (!first.starts_with(kMagic) || first.size() <= kMagic.size() ||
        first[kMagic.size()] != ' ') {
      in.fail("not a punb model file (its first line is not 'punb-model VERSION')");
    }
    const std::int64_t v =
        in.integer(first.substr(kMagic.size() + 1), "format version", 1, INT64_MAX);
    if (v > kFormatVersion) {
      in.fail("format version " + std::to_string(v) + " is newer than this reader's (" +
              std::to_string(kFormatVersion) + ")");
    }
  }
  // Then whether it is whole and undamaged: the last line is the checksum of all before it.
  const std::size_t last = text.size() < 2 ? 0 : text.rfind('\n', text.size() - 2) + 1;
  const std::string_view checksum_line = text.substr(last);
  if (text.back() != '\n' || !checksum_line.starts_with(kChecksumField)) {
    const auto lines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n'));
    throw Fatal(kBadModelFile, path + ":" + std::to_string(lines + (text.back() != '\n')) +
                                   ": the last line is not the checksum (a truncated file?)");
  }
  char sum[20];
  std::snprintf(sum, sizeof sum, "%016llx",
                static_cast<unsigned long long>(fnv1a64(text.substr(0, last))));
  if (checksum_line.substr(kChecksumField.size()) != std::string(sum) + "\n") {
    const auto lines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n'));
    throw Fatal(kBadModelFile, path + ":" + std::to_string(lines) +
                                   ": the checksum does not match: the file is damaged");
  }

  Header header(in);
  std::pair<std::string_view, std::string_view> section;
  header.read_until({"sequence", "words"}, section);
  read_fields(header, in, m);
  if (m.mode == RunMode::positive_unlabeled) {
    if (section.first != "sequence") in.fail("the field 'sequence' is missing");
    read_sequence(in, section.second, m);
    section = in.next_field();
  } else if (section.first == "sequence") {
    in.fail("field 'sequence' belongs to positive-unlabeled mode");
  }
  if (section.first != "words") in.fail("expected the field 'words'");
  read_words(in, header, section.second, m);
  if (m.feature_columns && !m.indices.empty() && m.indices.back() > *m.feature_columns) {
    in.fail("index " + std::to_string(m.indices.back()) + " lies beyond feature-columns " +
            std::to_string(*m.feature_columns));
  }
  read_text_vocabulary(in, m);
  if (in.next_line().data() != checksum_line.data()) in.fail("unexpected line before the checksum");
  return m;
}

SavedModel read_model_file(const std::string& path) {
  InputFile file(path, kBadModelFile);
  std::string text;
  char chunk[1 << 16];
  for (std::size_t got; (got = file.read(chunk, sizeof chunk)) > 0;) text.append(chunk, got);
  return parse_model_file(text, path);
}

Model Classifier::unpack(const SavedModel& saved, VocabularyMask& mask, Vocabulary& vocab) {
  vocab.size = static_cast<std::int64_t>(saved.indices.size());
  vocab.largest = saved.indices.empty() ? 0 : static_cast<std::int32_t>(saved.indices.back());
  Model model;
  model.priors = saved.priors;
  // Entries outside the vocabulary are never scored; 1 keeps them harmless all the same.
  model.neg.assign(static_cast<std::size_t>(vocab.largest) + 2, 1.0);
  model.pos.assign(model.neg.size(), 1.0);
  for (std::size_t k = 0; k < saved.indices.size(); ++k) {
    const std::uint32_t i = saved.indices[k];
    mask[i] = 1;
    model.neg[i] = saved.neg[k];
    model.pos[i] = saved.pos[k];
  }
  return model;
}

Classifier::Classifier(const SavedModel& saved, WorkerPool* pool)
    : mask_(kIndexCount), table_(unpack(saved, mask_, vocab_), mask_, vocab_, pool) {}

}  // namespace punb
