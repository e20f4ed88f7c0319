#include "classify/run.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

#include "classify/explain.h"
#include "classify/lines.h"
#include "classify/sources.h"
#include "classify/spread.h"
#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/parse.h"
#include "docfile/staged.h"
#include "docfile/together.h"
#include "nb/metrics.h"
#include "nb/score.h"
#include "nb/testread.h"
#include "vectorize/passes.h"
#include "vectorize/sources.h"

namespace punb::classify {

namespace {

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

// Documents in punb's line format, file after file, scored by the pool's threads.
void score_line_files(const Options& o, const Classifier& classifier, WorkerPool& pool,
                      Results& results, EvaluationCounters& counters, std::ostream& log) {
  SoloPeers alone;
  for (const std::string& path : o.files) {
    PieceReader in(path, kCannotRead);
    if (!o.labeled) warn_of_a_label(log, path, in.head());
    read_and_score(in, o.labeled, classifier.mask(), classifier.table(), pool, alone, nullptr,
                   [&](const ScoredTests& s) { take_scored(s, o.labeled, counters, results); })
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

  const words::Vocabulary vocabulary = text_vocabulary(model);
  const words::WordFilter filter = text_filter(model);
  LineScorer scorer(classifier);
  vectorize::WordSplitters splitters(filter.fold, threads);
  const vectorize::WrittenSets written = vectorize::encode_sets(
      vectorize::Corpus(inputs).shown_as("punb-classify"), filter, vocabulary, threads,
      [&](const vectorize::WrittenDocument& d) {
        const std::string_view source = d.source.substr(0, d.source.size() - 1);
        scorer.score(d.line, source, [&](double p, const DocStore::Document& x) {
          results.take(p, x, source, d.input, d.number);
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

void run(const Options& o, std::ostream& log, Peers& peers) {
  const SavedModel model = read_model_file(o.model);
  if (o.info) {
    if (peers.leads()) print(describe_model(model, o.model));
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
  if (o.words) {
    on_leader(peers, [&] {
      Output out(o.out);
      out.write(weights.strongest_lines(*o.words));
      out.finish();
    });
    return;
  }
  if (peers.size() > 1) {
    run_spread(o, log, peers, {model, classifier, weights, pool, static_cast<int>(threads)});
    return;
  }
  Output out(o.out);
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
