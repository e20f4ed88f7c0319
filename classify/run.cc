#include "classify/run.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

#include "classify/explain.h"
#include "classify/sources.h"
#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/parse.h"
#include "docfile/staged.h"
#include "nb/metrics.h"
#include "nb/score.h"
#include "nb/testread.h"
#include "vectorize/passes.h"
#include "vectorize/sources.h"

namespace punb::classify {

namespace {

constexpr const char* kCannotWrite = "can not write output";
constexpr const char* kCannotRead = "can not read documents";
constexpr const char* kNoWords = "model without words";

// Lines are handed to the output in runs of about this many bytes.
constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

// Where the lines go: standard output, or the -o file, which takes its name only when complete.
class Output {
 public:
  explicit Output(const std::optional<std::string>& path) : staged_(kCannotWrite) {
    if (path) file_ = &staged_.add(*path);
  }
  void write(std::string_view text) { file_ ? file_->write(text) : print(text); }
  void finish() { staged_.commit(); }

 private:
  StagedFiles staged_;
  OutFile* file_ = nullptr;
};

// A document's line: its posterior as punb writes it in the result file, then a tab and its
// source when it has one, then a tab and its explanation under --explain.
void append_line(std::string& out, double p, const std::optional<std::string_view>& source,
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

// A document kept for ranking: its posterior and where it is.
struct Ranked {
  double p;
  std::uint64_t document;   // in input order, from 0
  std::uint32_t input;      // text: the input file
  std::uint64_t number;     // text: its line in a file of one document per line
  std::string explanation;  // under --explain
};

// By decreasing posterior, ties in input order.
bool ranks_before(const Ranked& a, const Ranked& b) {
  return a.p > b.p || (a.p == b.p && a.document < b.document);
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
      if (top_) std::push_heap(kept_.begin(), kept_.end(), ranks_before);
    } else if (ranks_before(r, kept_.front())) {
      std::pop_heap(kept_.begin(), kept_.end(), ranks_before);
      kept_.back() = std::move(r);
      std::push_heap(kept_.begin(), kept_.end(), ranks_before);
    }
  }

  std::vector<Ranked> take() {
    std::sort(kept_.begin(), kept_.end(), ranks_before);
    return std::move(kept_);
  }

 private:
  std::optional<std::uint64_t> top_;
  std::vector<Ranked> kept_;
};

// Takes the scored documents in input order, and writes or ranks each.
class Results {
 public:
  // `weights` explains the documents under --explain.
  Results(const Options& o, Output& out, WordWeights* weights)
      : o_(o), out_(out), weights_(weights) {
    if (o.rank) ranking_.emplace(o.top);
    if (!o.ids.empty() && !o.rank) in_turn_.emplace(o.ids);
  }

  // Whether a whole block of lines as the threads formatted them can go out as it is.
  bool plain() const { return !o_.rank && !o_.min && o_.ids.empty() && !o_.text && !o_.explain; }
  void take_block(std::string_view lines, std::uint64_t documents) {
    out_.write(lines);
    documents_ += documents;
  }

  // A document scored: `doc` holds its words in the vocabulary.
  void take(double p, const DocStore::Document& doc,
            std::optional<std::string_view> source = std::nullopt, std::uint32_t input = 0,
            std::uint64_t number = 0) {
    const std::uint64_t document = documents_++;
    if (in_turn_) source = in_turn_->next();
    if (o_.min && !(p >= *o_.min)) return;
    // Only the documents written are explained.
    std::optional<std::string_view> explanation;
    if (o_.explain && (!ranking_ || ranking_->keeps(p))) {
      explanation_.clear();
      weights_->explain(doc, *o_.explain, explanation_);
      explanation = explanation_;
    }
    if (ranking_) {
      if (ranking_->keeps(p))
        ranking_->add({p, document, input, number, explanation ? explanation_ : std::string()});
      return;
    }
    append_line(lines_, p, source, explanation);
    if (lines_.size() >= kFlushBytes) flush();
  }

  // Writes what is left: the ranked documents with their sources, named by `text_source` under
  // --text.
  template <class TextSource>
  void finish(TextSource&& text_source) {
    if (in_turn_) in_turn_->check_all_taken();
    if (ranking_) {
      std::optional<SourcesByNumber> sources;
      if (!o_.ids.empty()) {
        sources.emplace(o_.ids);
        if (sources->size() != documents_) {
          throw Fatal("can not read sources", o_.ids.back() + ": the --ids files hold " +
                                                  std::to_string(sources->size()) + " lines for " +
                                                  std::to_string(documents_) + " documents");
        }
      }
      for (const Ranked& r : ranking_->take()) {
        std::string name;
        std::optional<std::string_view> source;
        if (sources) source = sources->at(r.document);
        if (o_.text) source = name = text_source(r.input, r.number);
        append_line(lines_, r.p, source,
                    o_.explain ? std::optional<std::string_view>(r.explanation) : std::nullopt);
        if (lines_.size() >= kFlushBytes) flush();
      }
    }
    flush();
  }

 private:
  void flush() {
    out_.write(lines_);
    lines_.clear();
  }

  const Options& o_;
  Output& out_;
  std::optional<Ranking> ranking_;
  std::optional<SourcesInTurn> in_turn_;
  WordWeights* weights_;
  std::string explanation_;
  std::string lines_;
  std::uint64_t documents_ = 0;
};

// Whether a file's first line begins as a test line does, with the label 1 or -1 and a space.
bool begins_with_label(std::string_view head) {
  return head.starts_with("1 ") || head.starts_with("-1 ");
}

// Documents in punb's line format, file after file, scored by the pool's threads.
void score_line_files(const Options& o, const Classifier& classifier, WorkerPool& pool,
                      Results& results, EvaluationCounters& counters, std::ostream& log) {
  SoloPeers alone;
  for (const std::string& path : o.files) {
    PieceReader in(path, kCannotRead);
    if (!o.labeled && begins_with_label(in.head())) {
      log << "punb-classify: " << path
          << ":1: warning: the line begins with a label (1 or -1), as a test set's lines do; "
             "without --labeled the labels are read as part of the documents (--labeled reads "
             "test lines)\n";
    }
    read_and_score(in, o.labeled, classifier.mask(), classifier.table(), pool, alone, nullptr,
                   [&](const ScoredTests& s) {
                     if (o.labeled) {
                       for (std::size_t j = 0; j < s.post.size(); ++j) {
                         counters.count_label(s.labels[j]);
                         counters.count_decision(s.labels[j], s.post[j].positive());
                       }
                     }
                     if (results.plain()) {
                       results.take_block(s.lines, s.post.size());
                       return;
                     }
                     std::size_t j = 0;
                     s.docs.for_each([&](const DocStore::Document& doc) {
                       results.take(s.post[j++].pos, doc);
                     });
                   })
        .raise();
  }
}

// Text, read as punb-vectorize reads it with the model's vocabulary: each document becomes the
// line punb-vectorize would write, which is then read and scored as punb reads it.
void score_text(const Options& o, const SavedModel& model, const Classifier& classifier,
                int threads, Results& results, std::ostream& log) {
  std::vector<vectorize::InputPath> paths;
  for (const std::string& f : o.files) paths.push_back({f, vectorize::SetKind::unlabeled, 0});
  std::vector<std::string> warnings;
  const std::vector<vectorize::InputFile> inputs = vectorize::list_inputs(paths, warnings);
  for (const std::string& w : warnings) log << "punb-classify: " << w << "\n";

  words::Vocabulary vocabulary;
  for (std::size_t k = 0; k < model.text->words.size(); ++k)
    vocabulary.push_back({model.text->indices[k], 0, 0, model.text->words[k]});
  const words::WordFilter filter{model.text->folded, model.text->min_length, nullptr};

  DocStore doc;
  std::string line;
  const VocabularyMask& mask = classifier.mask();
  vectorize::WordSplitters splitters(filter.fold, threads);
  const vectorize::WrittenSets written = vectorize::encode_sets(
      vectorize::Corpus(inputs), filter, vocabulary, threads,
      [&](const vectorize::WrittenDocument& d) {
        line.assign(d.line);
        line.append(kLineSlack, '\0');
        doc.clear();
        doc.begin_document();
        const ParsedLine parsed = parse_document_line(
            line.data(), d.line.size(), false, [&](std::int32_t index, std::int32_t count) {
              if (mask[static_cast<std::size_t>(index)] == 1) doc.add_pair(index, count);
            });
        if (parsed.fault != LineFault::none) {  // the vectorizer writes no such line
          throw Fatal(kCannotRead, std::string(d.source.substr(0, d.source.size() - 1)) +
                                       ": the words make no document line punb reads");
        }
        doc.end_document();
        doc.for_each([&](const DocStore::Document& x) {
          results.take(score_document(x, classifier.table()).pos, x,
                       d.source.substr(0, d.source.size() - 1), d.input, d.number);
        });
      },
      splitters);
  for (std::uint32_t i : written.skipped)
    log << "punb-classify: " << inputs[i].path
        << ": NUL bytes in the first 8 kB, not text: skipped\n";
  for (const auto& [input, n] : written.replaced)
    log << "punb-classify: " << inputs[input].path << ": " << n
        << " invalid UTF-8 sequence(s) replaced\n";
  results.finish([&](std::uint32_t input, std::uint64_t number) {
    return vectorize::source_name(inputs[input], number);
  });
}

std::string number(double v) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// The options as the command line gives them. It reads -s 0 and -i 0 as its defaults, so a model
// fitted with those values (by the Python package) has them said in words instead.
std::string options_of(const SavedModel& m) {
  std::string flags = "-l " + number(m.smoothing_weight);
  std::string words;
  if (m.spy_fraction == 0)
    words += "; spy fraction 0: no spies";
  else
    flags += " -s " + number(m.spy_fraction);
  flags += " -rt " + number(m.threshold_rate);
  if (m.iterations == 0)
    words += "; iterations 0: no EM iteration, the first classifier only";
  else
    flags += " -i " + std::to_string(m.iterations);
  return flags + words;
}

}  // namespace

std::string describe_model(const SavedModel& m, const std::string& path) {
  const bool pu = m.mode == RunMode::positive_unlabeled;
  std::string s;
  auto field = [&](const char* name, const std::string& value) {
    s += name;
    s.append(20 - std::string_view(name).size(), ' ');
    s += value + "\n";
  };
  field("model", path + " (written by punb " + m.punb_version + ")");
  field("mode", pu ? "positive-unlabeled (-kov)" : "naive Bayes (-nb)");
  field("options", options_of(m));
  field("classifier",
        m.classifier_name() + (pu ? " (selected: " + std::to_string(m.selected) + ")" : ""));
  std::string documents = std::to_string(m.positive_documents) + " positive, " +
                          std::to_string(m.unlabeled_documents) + " unlabeled";
  if (pu) {
    documents += "; " + std::to_string(m.spies) + " spies, " +
                 std::to_string(m.reliable_negatives) + " reliable negatives";
  }
  field("training documents", documents);
  if (pu) field("spy threshold", number(m.spy_threshold));
  field("priors", "positive " + number(m.priors.pos) + ", negative " + number(m.priors.neg));
  field("vocabulary", m.indices.empty() ? std::string("0 indices")
                                        : std::to_string(m.indices.size()) + " indices, " +
                                              std::to_string(m.indices.front()) + " to " +
                                              std::to_string(m.indices.back()));
  field("words", !m.text ? std::string("none: the model cannot read text")
                         : std::to_string(m.text->words.size()) + ", " +
                               (m.text->folded ? "folded" : "not folded") + ", min-length " +
                               std::to_string(m.text->min_length));
  return s;
}

void run(const Options& o, std::ostream& log) {
  const SavedModel model = read_model_file(o.model);
  if (o.info) {
    print(describe_model(model, o.model));
    return;
  }
  if (o.text && !model.text) {
    throw Fatal(kNoWords, o.model +
                              ": the model holds no words (punb found no STEM.vocab beside its "
                              "inputs), so it cannot read text");
  }
  const unsigned threads = thread_count(static_cast<std::uint64_t>(o.threads));
  WorkerPool pool(threads);
  const Classifier classifier(model, &pool);
  WordWeights weights(model, classifier);
  Output out(o.out);
  if (o.words) {
    out.write(weights.strongest_lines(*o.words));
    out.finish();
    return;
  }
  Results results(o, out, &weights);
  EvaluationCounters counters;
  if (o.text) {
    score_text(o, model, classifier, static_cast<int>(threads), results, log);
  } else {
    score_line_files(o, classifier, pool, results, counters, log);
    results.finish([](std::uint32_t, std::uint64_t) { return std::string(); });
  }
  out.finish();
  if (o.labeled) {
    const ReportLines lines = report_lines(counters);
    print(lines.recall + lines.precision + lines.f_measure + lines.accuracy);
  }
}

}  // namespace punb::classify
