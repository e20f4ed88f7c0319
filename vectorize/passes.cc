#include "vectorize/passes.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "vectorize/batches.h"
#include "vectorize/progress.h"
#include "vectorize/words.h"

namespace punb::vectorize {

namespace {

// Text handed to a thread at a time: large enough that taking turns at the reader costs
// little, small enough that the batches in flight stay a few megabytes and that the threads
// share even a small corpus.
constexpr std::size_t kBatchBytes = std::size_t{4} << 20;
constexpr std::size_t kBatchDocuments = 128;

// The reader, shared by the threads of a pass; batches are numbered in reading order.
class SharedReader {
 public:
  SharedReader(const std::vector<InputFile>& inputs, std::size_t count, const char* stage)
      : reader_(inputs, count), progress_(stage) {}

  bool next(Batch& batch) {
    std::lock_guard lock(mutex_);
    if (stopped_ || !reader_.next(batch, kBatchBytes, kBatchDocuments)) return false;
    batch.sequence = sequence_++;
    progress_.update(reader_.documents(), reader_.bytes());
    return true;
  }
  void stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  const BatchReader& reader() const { return reader_; }

 private:
  std::mutex mutex_;
  BatchReader reader_;
  Progress progress_;
  std::uint64_t sequence_ = 0;
  bool stopped_ = false;
};

// Lets batches finish in their reading order.
class InOrder {
 public:
  // Waits until every earlier batch is done; false when the pass is failing.
  bool wait_turn(std::uint64_t sequence) {
    std::unique_lock lock(mutex_);
    turn_.wait(lock, [&] { return next_ == sequence || aborted_; });
    return !aborted_;
  }
  void done() {
    {
      std::lock_guard lock(mutex_);
      ++next_;
    }
    turn_.notify_all();
  }
  void abort() {
    {
      std::lock_guard lock(mutex_);
      aborted_ = true;
    }
    turn_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  std::uint64_t next_ = 0;
  bool aborted_ = false;
};

// Runs work(thread) on `threads` threads, the caller's among them; after a failure calls
// on_failure() so that the others stop, and rethrows the first failure once all have ended.
template <class Work, class OnFailure>
void run_threads(int threads, Work&& work, OnFailure&& on_failure) {
  std::mutex mutex;
  std::exception_ptr first;
  auto guarded = [&](int t) {
    try {
      work(t);
    } catch (...) {
      {
        std::lock_guard lock(mutex);
        if (!first) first = std::current_exception();
      }
      on_failure();
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(guarded, t);
  guarded(0);
  for (std::thread& t : pool) t.join();
  if (first) std::rethrow_exception(first);
}

// Words waiting to be looked up: the slot of each is prefetched as it comes, so that a run of
// lookups overlaps their cache misses instead of waiting for each in turn.
class LookupQueue {
 public:
  template <class Table>
  void push(std::string_view word, const Table& table) {
    const std::uint64_t h = Table::hash(word);
    table.prefetch(h);
    waiting_[size_++] = {bytes_.size(), word.size(), h};
    bytes_.append(word);
  }
  bool full() const { return size_ == kDepth; }

  // Calls f(word, hash) for each waiting word, in the order they came.
  template <class Table, class F>
  void drain(const Table& table, F&& f) {
    for (std::size_t i = 0; i < size_; ++i) table.prefetch_entry(waiting_[i].hash);
    for (std::size_t i = 0; i < size_; ++i)
      f(std::string_view(bytes_).substr(waiting_[i].offset, waiting_[i].length), waiting_[i].hash);
    size_ = 0;
    bytes_.clear();
  }

 private:
  static constexpr std::size_t kDepth = 16;
  struct Waiting {
    std::size_t offset;
    std::size_t length;
    std::uint64_t hash;
  };
  std::array<Waiting, kDepth> waiting_;
  std::size_t size_ = 0;
  std::string bytes_;
};

struct Tally {
  std::uint64_t documents = 0;
  std::uint64_t occurrences = 0;
  std::uint64_t last_document = 0;  // numbered from 1 by each counter
};

class TrainingCounter final : public WordSink {
 public:
  explicit TrainingCounter(const WordFilter& filter) : filter_(filter) {}

  void begin_document() {
    flush();
    ++document_;
  }
  void word(std::string_view w) override {
    if (!filter_.keeps(w)) return;
    queue_.push(w, table_);
    if (queue_.full()) flush();
  }
  void flush() {
    queue_.drain(table_, [&](std::string_view w, std::uint64_t h) {
      Tally& t = table_.at(w, h);
      ++t.occurrences;
      if (t.last_document != document_) {
        t.last_document = document_;
        ++t.documents;
      }
    });
  }
  WordTable<Tally>& table() { return table_; }

 private:
  LookupQueue queue_;
  const WordFilter& filter_;
  WordTable<Tally> table_;
  std::uint64_t document_ = 0;
};

// Turns the words of a document into its `index:count` pairs.
class DocumentEncoder final : public WordSink {
 public:
  DocumentEncoder(const WordTable<std::uint32_t>& index, std::uint32_t max_index,
                  const WordFilter& filter)
      : index_(index), filter_(filter), counts_(max_index + std::size_t{1}) {}

  void word(std::string_view w) override {
    if (!filter_.keeps(w)) return;
    queue_.push(w, index_);
    if (queue_.full()) flush();
  }
  void flush() {
    queue_.drain(index_, [&](std::string_view w, std::uint64_t h) {
      const std::uint32_t* i = index_.find(w, h);
      if (!i) {
        ++out_of_vocabulary_;
        return;
      }
      ++occurrences_;
      if (counts_[*i]++ == 0) touched_.push_back(*i);
    });
  }

  // Appends the document's line, led by `label` unless it is 0, and starts the next document.
  void finish(int label, std::string& out) {
    flush();
    if (label != 0) out += label > 0 ? "1" : "-1";
    std::sort(touched_.begin(), touched_.end());
    bool first = label == 0;
    char number[16];
    for (std::uint32_t i : touched_) {
      if (!first) out += ' ';
      first = false;
      out.append(number, std::to_chars(number, number + sizeof number, i).ptr);
      out += ':';
      out.append(number, std::to_chars(number, number + sizeof number, counts_[i]).ptr);
      counts_[i] = 0;
    }
    touched_.clear();
    out += '\n';
  }

  std::uint64_t take_occurrences() { return std::exchange(occurrences_, 0); }
  std::uint64_t take_out_of_vocabulary() { return std::exchange(out_of_vocabulary_, 0); }

 private:
  const WordTable<std::uint32_t>& index_;
  const WordFilter& filter_;
  LookupQueue queue_;
  std::vector<std::uint32_t> counts_;
  std::vector<std::uint32_t> touched_;
  std::uint64_t occurrences_ = 0;
  std::uint64_t out_of_vocabulary_ = 0;
};

struct EncodedDocument {
  SetKind set;
  std::size_t line_end;
  std::size_t id_end;
  std::uint32_t input;
  std::uint64_t number;
};

struct EncodedBatch {
  std::string lines;
  std::string ids;
  std::vector<EncodedDocument> documents;
  std::array<SetTotals, kSets> totals{};
  std::vector<std::pair<std::uint32_t, std::uint64_t>> replaced;

  void clear() {
    lines.clear();
    ids.clear();
    documents.clear();
    totals = {};
    replaced.clear();
  }
};

void encode_batch(const Batch& batch, const std::vector<InputFile>& inputs, WordSplitter& splitter,
                  DocumentEncoder& encoder, EncodedBatch& out) {
  out.clear();
  for (const DocumentRef& d : batch.documents) {
    const InputFile& input = inputs[d.input];
    splitter.split(batch.text_of(d), encoder);
    encoder.finish(input.label, out.lines);
    out.ids += source_name(input, d.line);
    out.ids += '\n';
    out.documents.push_back({input.set, out.lines.size(), out.ids.size(), d.input, d.line});
    SetTotals& t = out.totals[set_number(input.set)];
    ++t.documents;
    t.positive += input.label > 0;
    t.occurrences += encoder.take_occurrences();
    t.out_of_vocabulary += encoder.take_out_of_vocabulary();
    if (const std::uint64_t n = splitter.take_replaced()) {
      if (!out.replaced.empty() && out.replaced.back().first == d.input)
        out.replaced.back().second += n;
      else
        out.replaced.emplace_back(d.input, n);
    }
  }
}

void emit_batch(const EncodedBatch& batch, const EmitDocument& emit, WrittenSets& written) {
  std::size_t line = 0;
  std::size_t id = 0;
  const std::string_view lines(batch.lines);
  const std::string_view ids(batch.ids);
  for (const EncodedDocument& d : batch.documents) {
    emit({d.set, lines.substr(line, d.line_end - line), ids.substr(id, d.id_end - id), d.input,
          d.number});
    line = d.line_end;
    id = d.id_end;
  }
  for (std::size_t s = 0; s < kSets; ++s) {
    written.sets[s].documents += batch.totals[s].documents;
    written.sets[s].positive += batch.totals[s].positive;
    written.sets[s].occurrences += batch.totals[s].occurrences;
    written.sets[s].out_of_vocabulary += batch.totals[s].out_of_vocabulary;
  }
  for (const auto& [input, n] : batch.replaced) written.replaced[input] += n;
}

}  // namespace

TrainingWords count_training_words(const std::vector<InputFile>& inputs, std::size_t training,
                                   const WordFilter& filter, int threads,
                                   WordSplitters& splitters) {
  SharedReader reader(inputs, training, "counting training words");
  std::vector<std::unique_ptr<TrainingCounter>> counters(static_cast<std::size_t>(threads));
  std::vector<std::array<std::uint64_t, kSets>> documents(counters.size());
  run_threads(
      threads,
      [&](int t) {
        counters[t] = std::make_unique<TrainingCounter>(filter);
        WordSplitter& splitter = splitters.of(t);
        Batch batch;
        while (reader.next(batch)) {
          for (const DocumentRef& d : batch.documents) {
            counters[t]->begin_document();
            splitter.split(batch.text_of(d), *counters[t]);
            ++documents[t][set_number(inputs[d.input].set)];
          }
        }
        counters[t]->flush();
      },
      [&] { reader.stop(); });

  // Each document was counted by one thread, so the tallies add up; the first thread's table
  // takes the others' in, one at a time, so that little more than one table is ever spare.
  WordTable<Tally> merged = std::move(counters[0]->table());
  TrainingWords result;
  for (std::size_t t = 0; t < counters.size(); ++t) {
    if (t > 0)
      counters[t]->table().for_each([&](std::string_view word, const Tally& tally) {
        Tally& m = merged[word];
        m.documents += tally.documents;
        m.occurrences += tally.occurrences;
      });
    counters[t].reset();
    for (std::size_t s = 0; s < kSets; ++s) result.documents[s] += documents[t][s];
  }
  result.words.reserve(merged.size());
  merged.for_each([&](std::string_view word, const Tally& tally) {
    result.words.push_back({std::string(word), tally.documents, tally.occurrences});
  });
  result.bytes = reader.reader().bytes();
  return result;
}

WrittenSets encode_sets(const std::vector<InputFile>& inputs, const WordFilter& filter,
                        const Vocabulary& vocabulary, int threads, const EmitDocument& emit,
                        WordSplitters& splitters) {
  WordTable<std::uint32_t> index;
  std::uint32_t max_index = 0;
  for (const VocabularyEntry& e : vocabulary) {
    index[e.word] = e.index;
    max_index = std::max(max_index, e.index);
  }
  SharedReader reader(inputs, inputs.size(), "writing documents");
  InOrder order;
  WrittenSets written;
  run_threads(
      threads,
      [&](int t) {
        WordSplitter& splitter = splitters.of(t);
        DocumentEncoder encoder(index, max_index, filter);
        Batch batch;
        EncodedBatch encoded;
        while (reader.next(batch)) {
          encode_batch(batch, inputs, splitter, encoder, encoded);
          if (!order.wait_turn(batch.sequence)) return;
          emit_batch(encoded, emit, written);
          order.done();
        }
      },
      [&] {
        reader.stop();
        order.abort();
      });
  written.skipped = reader.reader().skipped();
  written.bytes = reader.reader().bytes();
  return written;
}

}  // namespace punb::vectorize
