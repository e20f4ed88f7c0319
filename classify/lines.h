#pragma once

// What the run of one process and the run of several share: the documents' lines, the ranking's
// order, and text read as punb-vectorize reads it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "docfile/docstore.h"
#include "docfile/fatal.h"
#include "docfile/parse.h"
#include "nb/metrics.h"
#include "nb/modelfile.h"
#include "nb/score.h"
#include "nb/testread.h"
#include "words/filter.h"
#include "words/vocabulary.h"

namespace punb::classify {

inline constexpr const char* kCannotWrite = "can not write output";
inline constexpr const char* kCannotRead = "can not read documents";
inline constexpr const char* kNoWords = "model without words";
inline constexpr const char* kBadSources = "can not read sources";

// Lines are handed to the output in runs of about this many bytes.
inline constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

// A document's line: its posterior as punb writes it in the result file, then a tab and its
// source when it has one, then a tab and its explanation under --explain.
inline void append_line(std::string& out, double p, const std::optional<std::string_view>& source,
                        const std::optional<std::string_view>& explanation = std::nullopt) {
  char text[kProbabilityLineMax];
  const auto n = static_cast<std::size_t>(format_probability_line(p, text) - text);
  if (!source && !explanation) {
    out.append(text, n);
    return;
  }
  out.append(text, n - 1);
  if (source) out.append("\t").append(*source);
  if (explanation) out.append("\t").append(*explanation);
  out.append("\n");
}

// A document kept for ranking (or, on several processes, until its source is known): its
// posterior and where it is.
struct Ranked {
  double p;
  std::uint64_t document;   // in input order, from 0
  std::uint32_t input;      // text: the input file
  std::uint64_t number;     // text: its line in a file of one document per line
  std::string explanation;  // under --explain
};

// By decreasing posterior, ties in input order.
inline bool ranks_before(double p, std::uint64_t document, double q, std::uint64_t other) {
  return p > q || (p == q && document < other);
}
inline bool ranks_before(const Ranked& a, const Ranked& b) {
  return ranks_before(a.p, a.document, b.p, b.document);
}

// The documents --rank keeps: all of them, or the top K (a heap whose first is the last kept).
class Ranking {
 public:
  explicit Ranking(std::optional<std::uint64_t> top) : top_(top) {}

  // Whether a document of this posterior, coming after all the others so far, would be kept:
  // it ranks after every kept one of the same posterior.
  bool keeps(double p) const { return !top_ || kept_.size() < *top_ || p > kept_.front().p; }

  void add(Ranked r) {
    if (!top_ || kept_.size() < *top_) {
      kept_.push_back(std::move(r));
      if (top_) std::push_heap(kept_.begin(), kept_.end(), by_rank);
    } else if (ranks_before(r, kept_.front())) {
      std::pop_heap(kept_.begin(), kept_.end(), by_rank);
      kept_.back() = std::move(r);
      std::push_heap(kept_.begin(), kept_.end(), by_rank);
    }
  }

  std::vector<Ranked> take() {
    std::sort(kept_.begin(), kept_.end(), by_rank);
    return std::move(kept_);
  }

 private:
  static bool by_rank(const Ranked& a, const Ranked& b) { return ranks_before(a, b); }

  std::optional<std::uint64_t> top_;
  std::vector<Ranked> kept_;
};

// Warns when a file read without --labeled begins as a test line does, with the label 1 or -1
// and a space: the label would be read as part of the first pair.
inline void warn_of_a_label(std::ostream& log, const std::string& path, std::string_view head) {
  if (!head.starts_with("1 ") && !head.starts_with("-1 ")) return;
  log << "punb-classify: " << path
      << ":1: warning: the line begins with a label (1 or -1), as a test set's lines do; "
         "without --labeled the labels are read as part of the documents (--labeled reads "
         "test lines)\n";
}

// Hands a block of scored documents to `sink` (its lines whole where the sink takes them so),
// counting the labelled ones' figures under --labeled.
template <class Sink>
void take_scored(const ScoredTests& s, bool labeled, EvaluationCounters& counters, Sink& sink) {
  if (labeled) {
    for (std::size_t j = 0; j < s.post.size(); ++j) {
      counters.count_label(s.labels[j]);
      counters.count_decision(s.labels[j], s.post[j].positive());
    }
  }
  if (sink.plain()) {
    sink.take_block(s.lines, s.post.size());
    return;
  }
  std::size_t j = 0;
  s.docs.for_each([&](const DocStore::Document& doc) { sink.take(s.post[j++].pos, doc); });
}

// The model's words as punb-vectorize's vocabulary, and its way of reading them.
inline words::Vocabulary text_vocabulary(const SavedModel& model) {
  words::Vocabulary vocabulary;
  for (std::size_t k = 0; k < model.text->words.size(); ++k)
    vocabulary.push_back({model.text->indices[k], 0, 0, model.text->words[k]});
  return vocabulary;
}
inline words::WordFilter text_filter(const SavedModel& model) {
  return {model.text->folded, model.text->min_length, nullptr};
}

// Scores the lines punb-vectorize writes for text, each read as punb reads a document line.
class LineScorer {
 public:
  explicit LineScorer(const Classifier& classifier) : classifier_(classifier) {}

  // Hands take(p, doc) the posterior and the words in the vocabulary of the document line `text`,
  // written for the document `source` (named in the fault of a line punb does not read).
  template <class Take>
  void score(std::string_view text, std::string_view source, Take&& take) {
    line_.assign(text);
    line_.append(kLineSlack, '\0');
    doc_.clear();
    doc_.begin_document();
    const VocabularyMask& mask = classifier_.mask();
    const ParsedLine parsed = parse_document_line(line_.data(), text.size(), false,
                                                  [&](std::int32_t index, std::int32_t count) {
                                                    if (mask[static_cast<std::size_t>(index)] == 1)
                                                      doc_.add_pair(index, count);
                                                  });
    if (parsed.fault != LineFault::none) {  // the vectorizer writes no such line
      throw Fatal(kCannotRead,
                  std::string(source) + ": the words make no document line punb reads");
    }
    doc_.end_document();
    doc_.for_each(
        [&](const DocStore::Document& x) { take(score_document(x, classifier_.table()).pos, x); });
  }

 private:
  const Classifier& classifier_;
  DocStore doc_;
  std::string line_;
};

}  // namespace punb::classify
