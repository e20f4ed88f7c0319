#include "classify/spread.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "classify/lines.h"
#include "classify/shared_output.h"
#include "classify/sources.h"
#include "classify/spread_rank.h"
#include "classify/text_share.h"
#include "docfile/fatal.h"
#include "docfile/fileio.h"
#include "docfile/outfile.h"
#include "docfile/pieces.h"
#include "nb/metrics.h"
#include "nb/testread.h"
#include "peers/packing.h"
#include "vectorize/passes.h"
#include "vectorize/sources.h"

namespace punb::classify {

namespace {

constexpr std::int64_t kNone = INT64_MAX;

// How a text document is named in its line, from its input and its line number in this
// process's part.
using TextName = std::function<std::string(std::uint32_t input, std::uint64_t number)>;

// The first process's fault among those the processes met (a temporary file that failed, a
// source file that became unreadable), thrown in every process. Collective.
void raise_first(Peers& peers, std::optional<Fatal> mine);

// A held document as it waits in a spill: its posterior, its number in its part, where a text
// document is, and its explanation.
void put_held(std::string& out, const Ranked& r) {
  put(out, r.p);
  put(out, r.document);
  put(out, r.input);
  put(out, r.number);
  put(out, static_cast<std::uint64_t>(r.explanation.size()));
  out.append(r.explanation);
}

// The next held document of a spill read back; false at its end.
bool get_held(Spill::Reader& in, Ranked& r) {
  constexpr std::size_t kFixed = sizeof(double) + 3 * sizeof(std::uint64_t) + sizeof(std::uint32_t);
  const char* at = in.take(kFixed);
  if (!at) return false;
  r.p = get<double>(at);
  r.document = get<std::uint64_t>(at);
  r.input = get<std::uint32_t>(at);
  r.number = get<std::uint64_t>(at);
  const auto size = static_cast<std::size_t>(get<std::uint64_t>(at));
  at = in.take(size);
  if (!at) return false;
  r.explanation.assign(at, size);
  return true;
}

// This process's documents, taken in input order part after part (a file's share, or the share of
// the text). Their lines wait in a spill until the part ends, when they go out after those of the
// processes before; the documents that wait for their sources or names wait in another. Under
// --rank they are held in memory and ranked at the end of the run.
class Spread {
 public:
  Spread(const Options& o, Peers& peers, WordWeights& weights)
      : o_(o),
        peers_(peers),
        weights_(weights),
        out_(peers, o.out, plain(), [](std::string_view text) { print(text); }) {
    if (!o.ids.empty()) sources_.emplace(o.ids, peers);
    if (o.rank) {
      ranking_.emplace(o.top);
    } else {
      lines_.emplace();
      if (sources_ || o.text) held_.emplace();
    }
  }

  // Whether the lines go out in blocks as the threads formatted them.
  bool plain() const { return !o_.rank && !o_.min && o_.ids.empty() && !o_.text && !o_.explain; }

  void begin_part() { part_start_ = seen_; }
  void take_block(std::string_view lines, std::uint64_t documents) {
    lines_->write(lines);
    seen_ += documents;
  }
  // A document scored: `doc` holds its words in the vocabulary.
  void take(double p, const DocStore::Document& doc, std::uint32_t input = 0,
            std::uint64_t number = 0) {
    const std::uint64_t document = seen_++;
    if (o_.min && !(p >= *o_.min)) return;
    // Only the documents written are explained.
    explanation_.clear();
    if (o_.explain && (!ranking_ || ranking_->keeps(p)))
      weights_.explain(doc, *o_.explain, explanation_);
    if (ranking_) {
      if (ranking_->keeps(p)) ranking_->add({p, document, input, number, explanation_});
      return;
    }
    line_.clear();
    if (held_) {
      put_held(line_, {p, document - part_start_, input, number, explanation_});
      held_->write(line_);
      return;
    }
    append_line(line_, p, std::nullopt, explanation());
    lines_->write(line_);
  }

  void name_by(TextName name) { name_ = std::move(name); }

  // The part ends: `before` of its documents are in earlier processes' shares, this process keeps
  // its first `mine` (those before the part's fault: all of them or none), and all processes hold
  // `total` before that fault. Writes the part's lines, unless they are ranked at the end; a
  // document without a source ends the run here, after the lines before it.
  void end_part(std::int64_t before, std::int64_t mine, std::int64_t total) {
    const std::uint64_t first = documents_ + static_cast<std::uint64_t>(before);
    parts_.emplace_back(part_start_, first);
    const bool dropped = static_cast<std::uint64_t>(mine) < seen_ - part_start_;
    const std::uint64_t end = documents_ + static_cast<std::uint64_t>(total);
    documents_ = end;
    if (ranking_) return;
    if (dropped) {
      lines_->clear();
      if (held_) held_->clear();
    }
    std::optional<Fatal> fault;   // the sources', after the lines before it
    std::optional<Fatal> broken;  // what failed in this process
    if (held_) {
      std::uint64_t usable = end;
      if (sources_ && sources_->usable() < end) {
        // Sources taken in turn run out at the document numbered usable().
        usable = sources_->usable();
        fault = sources_->unreadable() ? *sources_->unreadable() : too_few(usable);
      }
      try {
        write_held(first, usable);
      } catch (const Fatal& f) {
        broken = f;
      }
      if (!broken) broken = held_->failure();
      held_->clear();
    }
    lines_->settle();
    raise_first(peers_, broken ? broken : lines_->failure());
    out_.write(*lines_);
    raise_first(peers_, lines_->failure());
    lines_->clear();
    if (fault) throw *fault;
  }

  // Writes the ranked lines, checks that the sources were all taken, and completes the output.
  void finish() {
    if (ranking_) {
      write_ranked();
    } else if (sources_) {
      if (sources_->usable() > documents_) {
        throw Fatal(kBadSources, sources_->where(documents_) + ": more sources than the " +
                                     std::to_string(documents_) + " documents");
      }
      if (sources_->unreadable()) throw *sources_->unreadable();
    }
    out_.finish();
  }

 private:
  std::optional<std::string_view> explanation() const {
    return o_.explain ? std::optional<std::string_view>(explanation_) : std::nullopt;
  }
  void format(const Ranked& r, std::optional<std::string_view> source, std::string& out) const {
    append_line(out, r.p, source,
                o_.explain ? std::optional<std::string_view>(r.explanation) : std::nullopt);
  }
  Fatal too_few(std::uint64_t lines) const {
    return Fatal(kBadSources, o_.ids.back() + ": the --ids files hold " + std::to_string(lines) +
                                  " lines, fewer than there are documents");
  }

  // The lines of the held documents of the part, whose first document is numbered `first` in
  // input order, up to the document numbered `usable`: with their sources, or their names.
  void write_held(std::uint64_t first, std::uint64_t usable) {
    Spill::Reader held(*held_);
    std::optional<SharedSources::Cursor> cursor;
    std::string lines;
    for (Ranked r; get_held(held, r);) {
      const std::uint64_t number = first + r.document;
      if (number >= usable) break;
      if (sources_) {
        if (!cursor) cursor.emplace(*sources_);
        format(r, cursor->at(number), lines);
      } else {
        format(r, name_(r.input, r.number), lines);
      }
      if (lines.size() >= kSpillChunk) {
        lines_->write(lines);
        lines.clear();
      }
    }
    lines_->write(lines);
  }

  // A document's number in input order, from its number among this process's.
  std::uint64_t number_of(std::uint64_t seen) const {
    auto part = std::upper_bound(parts_.begin(), parts_.end(), seen,
                                 [](std::uint64_t s, const auto& p) { return s < p.first; });
    --part;
    return part->second + (seen - part->first);
  }

  void write_ranked() {
    std::vector<Ranked> kept = ranking_->take();
    for (Ranked& r : kept) r.document = number_of(r.document);
    std::vector<std::string> sources;
    if (sources_) {
      if (sources_->unreadable()) throw *sources_->unreadable();
      if (sources_->usable() != documents_) {
        throw Fatal(kBadSources, o_.ids.back() + ": the --ids files hold " +
                                     std::to_string(sources_->usable()) + " lines for " +
                                     std::to_string(documents_) + " documents");
      }
      std::vector<std::size_t> order(kept.size());
      std::iota(order.begin(), order.end(), std::size_t{0});
      std::sort(order.begin(), order.end(),
                [&](std::size_t a, std::size_t b) { return kept[a].document < kept[b].document; });
      std::vector<std::uint64_t> numbers;
      numbers.reserve(kept.size());
      for (std::size_t i : order) numbers.push_back(kept[i].document);
      std::vector<std::string> got = sources_->fetch(numbers);
      sources.resize(kept.size());
      for (std::size_t i = 0; i < order.size(); ++i) sources[order[i]] = std::move(got[i]);
    }
    std::string text;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < kept.size(); ++i) {
      bytes += kProbabilityLineMax + 2 + kept[i].explanation.size();
      if (sources_) bytes += sources[i].size();
    }
    text.reserve(bytes);  // a text name may take more
    std::vector<LineKey> keys;
    keys.reserve(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
      const Ranked& r = kept[i];
      std::optional<std::string> source;
      if (sources_) source = std::move(sources[i]);
      if (o_.text) source = name_(r.input, r.number);
      const std::size_t begin = text.size();
      format(r, source, text);
      keys.push_back({r.p, r.document, begin, text.size() - begin});
    }
    kept = std::vector<Ranked>();
    sources = std::vector<std::string>();
    out_.write(rank_lines(peers_, std::move(text), std::move(keys), o_.top));
  }

  const Options& o_;
  Peers& peers_;
  WordWeights& weights_;
  InOrderOutput out_;
  std::optional<Ranking> ranking_;
  std::optional<SharedSources> sources_;
  TextName name_;
  std::string explanation_;
  std::string line_;            // a document's line or held record, as it is made
  std::optional<Spill> lines_;  // the part's lines so far
  std::optional<Spill> held_;   // the part's documents that wait for their sources or names
  std::uint64_t seen_ = 0;      // this process's documents so far
  std::uint64_t part_start_ = 0;
  std::uint64_t documents_ = 0;  // all processes' documents in the parts that ended
  // Each part's first document: its number among this process's, and in input order.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> parts_;
};

// The first bytes of a file: the leading process's share may hold less than its first line.
std::string head_of(const PieceReader& in, const std::string& path) {
  std::string head(in.head().substr(0, 3));
  if (head.size() < 3) {
    InputFile file(path, kCannotRead);
    char bytes[3];
    head.assign(bytes, file.read(bytes, sizeof bytes));
  }
  return head;
}

// Documents in punb's line format, file after file, each process its share of each file.
void score_line_file_shares(const Options& o, std::ostream& log, Peers& peers,
                            const Scoring& scoring, Spread& spread, EvaluationCounters& counters) {
  const Classifier& classifier = scoring.classifier;
  for (const std::string& path : o.files) {
    PieceReader in(path, kCannotRead, {peers.rank(), peers.size()});
    if (!o.labeled && peers.leads()) warn_of_a_label(log, path, head_of(in, path));
    spread.begin_part();
    const SharedReading read = read_and_score(
        in, o.labeled, classifier.mask(), classifier.table(), scoring.pool, peers, nullptr,
        [&](const ScoredTests& s) { take_scored(s, o.labeled, counters, spread); });
    spread.end_part(read.before, read.lines, read.total);
    read.raise();
  }
}

// The fault of the first process that met one, in every process: the processes' parts follow
// one another in input order.
std::optional<Fatal> first_fault(Peers& peers, const std::optional<Fatal>& mine,
                                 std::int64_t& owner) {
  owner = peers.min(mine ? peers.rank() : kNone);
  if (owner == kNone) return std::nullopt;
  std::string message = mine ? mine->message() : std::string();
  std::string detail = mine ? mine->detail() : std::string();
  peers.share(message, static_cast<int>(owner));
  peers.share(detail, static_cast<int>(owner));
  return Fatal(message, detail);
}

void raise_first(Peers& peers, std::optional<Fatal> mine) {
  std::int64_t owner = kNone;
  if (const std::optional<Fatal> agreed = first_fault(peers, mine, owner)) throw *agreed;
}

// What the text reader says once the text is read, said once for all processes: the files that
// are not text, and the invalid UTF-8 sequences replaced in each file.
void report_text_warnings(Peers& peers, const vectorize::WrittenSets& written,
                          const std::vector<vectorize::InputFile>& inputs, std::ostream& log) {
  std::string mine;
  for (std::uint32_t i : written.skipped) mine += "s " + std::to_string(i) + "\n";
  for (const auto& [input, n] : written.replaced)
    mine += "r " + std::to_string(input) + " " + std::to_string(n) + "\n";
  std::vector<std::string> to_each(static_cast<std::size_t>(peers.size()));
  to_each[0] = std::move(mine);
  const std::vector<std::string> got = exchange_in_rounds(peers, std::move(to_each));
  if (!peers.leads()) return;
  std::vector<std::uint32_t> skipped;  // a file shared by several processes is skipped by each
  std::map<std::uint32_t, std::uint64_t> replaced;
  for (const std::string& text : got) {
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find('\n', at);
      const std::string line = text.substr(at, end - at);
      at = end + 1;
      const std::size_t space = line.find(' ', 2);
      const auto input = static_cast<std::uint32_t>(std::stoul(line.substr(2, space - 2)));
      if (line[0] == 's')
        skipped.push_back(input);
      else
        replaced[input] += std::stoull(line.substr(space + 1));
    }
  }
  std::sort(skipped.begin(), skipped.end());
  skipped.erase(std::unique(skipped.begin(), skipped.end()), skipped.end());
  for (std::uint32_t i : skipped)
    log << "punb-classify: " << inputs[i].path
        << ": NUL bytes in the first 8 kB, not text: skipped\n";
  for (const auto& [input, n] : replaced)
    log << "punb-classify: " << inputs[input].path << ": " << n
        << " invalid UTF-8 sequence(s) replaced\n";
}

// Text, read as punb-vectorize reads it with the model's vocabulary, each process its part of the
// inputs taken end to end.
void score_text_shares(const Options& o, std::ostream& log, Peers& peers, const Scoring& scoring,
                       Spread& spread) {
  std::vector<vectorize::InputPath> paths;
  for (const std::string& f : o.files) paths.push_back({f, vectorize::SetKind::unlabeled, 0});
  std::vector<std::string> warnings;
  const auto inputs = std::make_shared<const std::vector<vectorize::InputFile>>(
      vectorize::list_inputs(paths, warnings));
  if (peers.leads())
    for (const std::string& w : warnings) log << "punb-classify: " << w << "\n";
  const vectorize::InputShare share = share_of_inputs(*inputs, peers.rank(), peers.size());

  const words::Vocabulary vocabulary = text_vocabulary(scoring.model);
  const words::WordFilter filter = text_filter(scoring.model);
  LineScorer scorer(scoring.classifier);
  vectorize::WordSplitters splitters(filter.fold, scoring.threads);
  spread.begin_part();
  std::int64_t taken = 0;
  std::uint64_t in_last = 0;  // documents of the part's last input
  std::optional<Fatal> fault;
  vectorize::WrittenSets written;
  try {
    written = vectorize::encode_sets(
        vectorize::Corpus(*inputs, share).shown_as("punb-classify"), filter, vocabulary,
        scoring.threads,
        [&](const vectorize::WrittenDocument& d) {
          ++taken;
          if (d.input + 1 == share.last) ++in_last;
          scorer.score(
              d.line, d.source.substr(0, d.source.size() - 1),
              [&](double p, const DocStore::Document& x) { spread.take(p, x, d.input, d.number); });
        },
        splitters);
  } catch (const Fatal& f) {
    fault = f;
  }
  std::int64_t owner = kNone;
  const std::optional<Fatal> agreed = first_fault(peers, fault, owner);
  const std::int64_t mine = peers.rank() <= owner ? taken : 0;

  // A part that starts inside a file numbers its lines from there: the lines before are those of
  // the processes before it that end in that file.
  const double last[2] = {share.last > share.first ? static_cast<double>(share.last - 1) : -1.0,
                          static_cast<double>(in_last)};
  const std::vector<double> all = peers.gather(last);
  std::uint64_t base = 0;
  if (share.begin > 0) {
    for (int q = 0; q < peers.rank(); ++q) {
      const auto at = 2 * static_cast<std::size_t>(q);
      if (all[at] == static_cast<double>(share.first))
        base += static_cast<std::uint64_t>(all[at + 1]);
    }
  }
  const std::size_t first = share.first;
  spread.name_by([inputs, first, base](std::uint32_t input, std::uint64_t number) {
    return vectorize::source_name((*inputs)[input], input == first ? number + base : number);
  });
  const std::int64_t before = peers.sum_before(mine);
  const std::int64_t total = peers.sum(mine);
  spread.end_part(before, mine, total);
  if (agreed) throw *agreed;
  report_text_warnings(peers, written, *inputs, log);
}

}  // namespace

void run_spread(const Options& o, std::ostream& log, Peers& peers, const Scoring& scoring) {
  Spread spread(o, peers, scoring.weights);
  EvaluationCounters counters;
  if (o.text) {
    score_text_shares(o, log, peers, scoring, spread);
  } else {
    score_line_file_shares(o, log, peers, scoring, spread, counters);
  }
  spread.finish();
  if (o.labeled) {
    add_up(counters, peers);
    const ReportLines lines = report_lines(counters);
    if (peers.leads()) print(lines.recall + lines.precision + lines.f_measure + lines.accuracy);
  }
}

}  // namespace punb::classify
