#include "vectorize/passes.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "docfile/fatal.h"
#include "docfile/progress.h"
#include "vectorize/batches.h"
#include "words/words.h"

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
  // Reads input files [first, count); the first batch is numbered `sequence`. Texts held in
  // memory (for the Python package) show no progress line.
  SharedReader(const Corpus& corpus, std::size_t first, std::size_t count, const char* stage,
               std::uint64_t sequence = 0)
      : reader_(corpus.open(first, count)),
        progress_(corpus.tool(), stage, !corpus.in_memory()),
        sequence_(sequence) {}

  bool next(Batch& batch) {
    std::lock_guard lock(mutex_);
    const std::uint64_t before = reader_->documents();
    if (stopped_ || !reader_->next(batch, kBatchBytes, kBatchDocuments)) return false;
    batch.sequence = sequence_++;
    batch.first_document = before;
    progress_.update(reader_->documents(), reader_->bytes());
    return true;
  }
  void stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  const BatchSource& reader() const { return *reader_; }

 private:
  std::mutex mutex_;
  std::unique_ptr<BatchSource> reader_;
  Progress progress_;
  std::uint64_t sequence_;
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
// on_failure() so that the others stop, and rethrows the first failure once all have ended. A
// thread the system does not start ends the run: the work of a pass is shared out by thread.
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
  pool.reserve(static_cast<std::size_t>(threads));
  try {
    for (int t = 1; t < threads; ++t) pool.emplace_back(guarded, t);
  } catch (const std::system_error& e) {
    on_failure();
    for (std::thread& t : pool) t.join();
    throw Fatal("can not start threads",
                "can not start " + std::to_string(threads) + " threads: " + e.code().message());
  }
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
  static constexpr std::size_t depth() { return kDepth; }

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

class TrainingCounter final : public words::WordSink {
 public:
  explicit TrainingCounter(const words::WordFilter& filter) : filter_(filter) {}

  // Where the words of the next documents are recorded; null: nowhere.
  void record_into(RecordedBatch* batch, FillArray<RecordedWord>* words) {
    record_ = batch;
    words_ = words;
  }

  void begin_document() {
    flush();
    ++document_;
    if (record_) document_start_ = words_->size();
  }
  void end_document(std::uint32_t input, std::uint64_t line, bool held) {
    flush();
    if (!record_) return;
    // Each word was recorded with its occurrences so far: what it has now, less that, is its
    // count in the document (below 2^32: a document is under 2 GiB).
    for (std::size_t k = document_start_; k < words_->size(); ++k) {
      RecordedWord& w = (*words_)[k];
      w.count = static_cast<std::uint32_t>(table_.value(w.entry).occurrences) - w.count;
    }
    record_->documents.push_back({input, held ? 1u : 0u, line, words_->size()});
  }
  void word(std::string_view w) override {
    if (!filter_.keeps(w)) return;
    queue_.push(w, table_);
    if (queue_.full()) flush();
  }
  void flush() {
    queue_.drain(table_, [&](std::string_view w, std::uint64_t h) {
      const std::uint32_t entry = table_.number(w, h);
      WordTally& t = table_.value(entry);
      if (t.last_document != document_) {
        t.last_document = document_;
        ++t.documents;
        if (record_) words_->push_back({entry, static_cast<std::uint32_t>(t.occurrences)});
      }
      ++t.occurrences;
    });
  }
  words::WordTable<WordTally>& table() { return table_; }

 private:
  LookupQueue queue_;
  const words::WordFilter& filter_;
  words::WordTable<WordTally> table_;
  std::uint64_t document_ = 0;
  RecordedBatch* record_ = nullptr;
  FillArray<RecordedWord>* words_ = nullptr;
  std::size_t document_start_ = 0;
};

// Turns the words of a document into its `index:count` pairs.
class DocumentEncoder final : public words::WordSink {
 public:
  DocumentEncoder(const words::WordTable<std::uint32_t>& index, std::uint32_t max_index,
                  const words::WordFilter& filter)
      : index_(index),
        filter_(filter),
        counts_(max_index + std::size_t{1}),
        bits_(max_index / 64 + 1),
        groups_(max_index / 4096 + 1) {}

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
      if (counts_[*i]++ == 0) mark(*i);
    });
  }

  // Appends the document's line, led by `label` unless it is 0, and starts the next document.
  void finish(int label, std::string& out) {
    flush();
    write_line(label, out);
  }

  // The same for a document the first pass recorded, its words' entries turned into vocabulary
  // indices by `index_of` (0: not in the vocabulary).
  void finish_recorded(const RecordedWord* words, std::size_t n, const std::uint32_t* index_of,
                       int label, std::string& out) {
    for (std::size_t k = 0; k < n; ++k) {
      const std::uint32_t i = index_of[words[k].entry];
      if (i == 0) {
        out_of_vocabulary_ += words[k].count;
        continue;
      }
      occurrences_ += words[k].count;
      if (counts_[i] == 0) mark(i);
      counts_[i] += words[k].count;
    }
    write_line(label, out);
  }

  std::uint64_t take_occurrences() { return std::exchange(occurrences_, 0); }
  std::uint64_t take_out_of_vocabulary() { return std::exchange(out_of_vocabulary_, 0); }

 private:
  void mark(std::uint32_t i) {
    bits_[i >> 6] |= std::uint64_t{1} << (i & 63);
    groups_[i >> 12] |= std::uint64_t{1} << (i >> 6 & 63);
    ++marked_;
  }

  // Appends the line of the marked indices and their counts, and clears them.
  void write_line(int label, std::string& out) {
    // An index and its count take at most 10 + 1 + 10 + 1 characters.
    constexpr std::size_t kLongestPair = 22;
    const std::size_t start = out.size();
    out.resize(start + 3 + kLongestPair * marked_);
    marked_ = 0;
    char* p = out.data() + start;
    if (label != 0) p = std::copy_n(label > 0 ? "1 " : "-1 ", label > 0 ? 2 : 3, p);
    for (std::size_t g = 0; g < groups_.size(); ++g) {
      for (std::uint64_t group = std::exchange(groups_[g], 0); group != 0; group &= group - 1) {
        const std::size_t w = g * 64 + static_cast<std::size_t>(__builtin_ctzll(group));
        for (std::uint64_t b = std::exchange(bits_[w], 0); b != 0; b &= b - 1) {
          const auto i =
              static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(__builtin_ctzll(b)));
          p = std::to_chars(p, p + 10, i).ptr;
          *p++ = ':';
          // Most words come once or a few times in a document.
          if (counts_[i] < 10)
            *p++ = static_cast<char>('0' + counts_[i]);
          else
            p = std::to_chars(p, p + 10, counts_[i]).ptr;
          *p++ = ' ';
          counts_[i] = 0;
        }
      }
    }
    const auto at = static_cast<std::size_t>(p - out.data());
    // The space after the last pair (or after the label) becomes the line end.
    out.resize(at);
    if (at > start)
      out.back() = '\n';
    else
      out += '\n';
  }

  const words::WordTable<std::uint32_t>& index_;
  const words::WordFilter& filter_;
  LookupQueue queue_;
  std::vector<std::uint32_t> counts_;
  // The indices of the document: a bit for each, and a bit for each word of those bits that is
  // not 0, so that they come out in increasing order without sorting.
  std::vector<std::uint64_t> bits_;
  std::vector<std::uint64_t> groups_;
  std::size_t marked_ = 0;
  std::uint64_t occurrences_ = 0;
  std::uint64_t out_of_vocabulary_ = 0;
};

struct EncodedDocument {
  SetKind set;
  bool held;
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

// A document's set and label as written: a held-out positive is a positive test document, and
// an unlabeled one besides.
struct Destination {
  SetKind set;
  int label;
  bool held;
};
Destination destination(const InputFile& input, bool held) {
  return held ? Destination{SetKind::test, 1, true} : Destination{input.set, input.label, false};
}

bool is_held(const HoldOut* held_out, const InputFile& input, std::uint64_t document) {
  return held_out && input.set == SetKind::positive && held_out->contains(document);
}

// Files the document just encoded: its source, its place in the batch, its sets' totals.
void add_encoded(const InputFile& input, Destination to, std::uint32_t input_number,
                 std::uint64_t line, DocumentEncoder& encoder, EncodedBatch& out) {
  out.ids += source_name(input, line);
  out.ids += '\n';
  out.documents.push_back({to.set, to.held, out.lines.size(), out.ids.size(), input_number, line});
  const std::uint64_t occurrences = encoder.take_occurrences();
  const std::uint64_t out_of_vocabulary = encoder.take_out_of_vocabulary();
  for (const SetKind set : {to.set, SetKind::unlabeled}) {
    SetTotals& t = out.totals[set_number(set)];
    ++t.documents;
    t.positive += set == SetKind::test && to.label > 0;
    t.occurrences += occurrences;
    t.out_of_vocabulary += out_of_vocabulary;
    if (!to.held) break;
  }
}

void add_replaced(std::vector<std::pair<std::uint32_t, std::uint64_t>>& replaced,
                  std::uint32_t input, std::uint64_t n) {
  if (n == 0) return;
  if (!replaced.empty() && replaced.back().first == input)
    replaced.back().second += n;
  else
    replaced.emplace_back(input, n);
}

// Splits a document's text and encodes it as `to` says.
void encode_text(std::string_view text, const InputFile& input, Destination to,
                 std::uint32_t input_number, std::uint64_t line, words::WordSplitter& splitter,
                 DocumentEncoder& encoder, EncodedBatch& out) {
  splitter.split(text, encoder);
  encoder.finish(to.label, out.lines);
  add_encoded(input, to, input_number, line, encoder, out);
  add_replaced(out.replaced, input_number, splitter.take_replaced());
}

void encode_batch(const Batch& batch, const std::vector<InputFile>& inputs, const HoldOut* held_out,
                  words::WordSplitter& splitter, DocumentEncoder& encoder, EncodedBatch& out) {
  out.clear();
  for (std::size_t k = 0; k < batch.documents.size(); ++k) {
    const DocumentRef& d = batch.documents[k];
    const InputFile& input = inputs[d.input];
    const bool held = is_held(held_out, input, batch.first_document + k);
    encode_text(batch.text_of(d), input, destination(input, held), d.input, d.line, splitter,
                encoder, out);
  }
}

void encode_recorded(const RecordedBatch& batch, const RecordedWord* words,
                     const std::vector<InputFile>& inputs, const std::uint32_t* index_of,
                     DocumentEncoder& encoder, EncodedBatch& out) {
  out.clear();
  out.replaced = batch.replaced;
  std::size_t from = batch.words_begin;
  for (const RecordedDocument& d : batch.documents) {
    const InputFile& input = inputs[d.input];
    const Destination to = destination(input, d.held != 0);
    encoder.finish_recorded(words + from, d.words_end - from, index_of, to.label, out.lines);
    from = d.words_end;
    add_encoded(input, to, d.input, d.line, encoder, out);
  }
}

void emit_batch(const EncodedBatch& batch, const EmitDocument& emit, WrittenSets& written) {
  std::size_t line = 0;
  std::size_t id = 0;
  const std::string_view lines(batch.lines);
  const std::string_view ids(batch.ids);
  for (const EncodedDocument& d : batch.documents) {
    const std::string_view text = lines.substr(line, d.line_end - line);
    const std::string_view source = ids.substr(id, d.id_end - id);
    emit({d.set, text, source, d.input, d.number});
    // "1 pairs" or "1": the same line without its label.
    if (d.held)
      emit({SetKind::unlabeled, text.substr(text.size() > 2 ? 2 : 1), source, d.input, d.number});
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

std::uint64_t count_documents(const Corpus& corpus, std::size_t first, std::size_t count) {
  const std::unique_ptr<BatchSource> source = corpus.open(first, count);
  Batch batch;
  while (source->next(batch, kBatchBytes, SIZE_MAX)) {
  }
  return source->documents();
}

TrainingWords count_training_words(const Corpus& corpus, std::size_t training,
                                   const words::WordFilter& filter, int threads,
                                   WordSplitters& splitters, std::size_t recording_limit,
                                   const HoldOut* held_out) {
  const std::vector<InputFile>& inputs = corpus.inputs();
  SharedReader reader(corpus, 0, training, "counting training words");
  const auto thread_count = static_cast<std::size_t>(threads);
  std::vector<std::unique_ptr<TrainingCounter>> counters(thread_count);
  std::vector<std::array<std::uint64_t, kSets>> documents(thread_count);
  std::vector<std::vector<std::pair<std::uint64_t, RecordedBatch>>> recorded(thread_count);
  std::vector<FillArray<RecordedWord>> words(thread_count);
  std::atomic<std::size_t> recorded_bytes{0};
  std::atomic<bool> recording{recording_limit > 0};
  run_threads(
      threads,
      [&](int t) {
        counters[t] = std::make_unique<TrainingCounter>(filter);
        TrainingCounter& counter = *counters[t];
        words::WordSplitter& splitter = splitters.of(t);
        if (recording) words[t] = FillArray<RecordedWord>(recording_limit / sizeof(RecordedWord));
        Batch batch;
        while (reader.next(batch)) {
          RecordedBatch* record = nullptr;
          if (recording.load(std::memory_order_relaxed)) {
            record = &recorded[t].emplace_back(batch.sequence, RecordedBatch()).second;
            record->thread = static_cast<std::uint32_t>(t);
            record->words_begin = words[t].size();
          }
          counter.record_into(record, &words[t]);
          for (std::size_t k = 0; k < batch.documents.size(); ++k) {
            const DocumentRef& d = batch.documents[k];
            const bool held = is_held(held_out, inputs[d.input], batch.first_document + k);
            counter.begin_document();
            splitter.split(batch.text_of(d), counter);
            counter.end_document(d.input, d.line, held);
            ++documents[t][set_number(held ? SetKind::unlabeled : inputs[d.input].set)];
            const std::uint64_t n = splitter.take_replaced();
            if (record) add_replaced(record->replaced, d.input, n);
          }
          counter.record_into(nullptr, nullptr);
          if (!record) continue;
          const std::size_t bytes = (words[t].size() - record->words_begin) * sizeof(RecordedWord) +
                                    record->documents.size() * sizeof(RecordedDocument);
          if (recorded_bytes.fetch_add(bytes) + bytes > recording_limit || words[t].overflowed())
            recording = false;
          if (!recording) {
            recorded[t].clear();
            words[t] = FillArray<RecordedWord>();
          }
        }
        if (!recording) {
          recorded[t].clear();
          words[t] = FillArray<RecordedWord>();
        }
      },
      [&] { reader.stop(); });

  TrainingWords result;
  Recording& kept = result.recording;
  kept.complete = recording;
  kept.training = training;
  if (kept.complete) {
    std::size_t batches = 0;
    for (const auto& r : recorded) batches += r.size();
    kept.batches.resize(batches);
    for (auto& r : recorded)
      for (auto& [sequence, batch] : r) kept.batches[sequence] = std::move(batch);
    recorded.clear();
    kept.words = std::move(words);
    kept.merged_entry.resize(thread_count);
  }

  // Each document was counted by one thread, so the tallies add up; the first thread's table
  // takes the others' in, one at a time, so that little more than one table is ever spare.
  words::WordTable<WordTally> merged = std::move(counters[0]->table());
  for (std::size_t t = 0; t < counters.size(); ++t) {
    if (kept.complete) {
      std::vector<std::uint32_t>& entries = kept.merged_entry[t];
      entries.reserve(t == 0 ? merged.size() : counters[t]->table().size());
      if (t == 0)
        for (std::uint32_t e = 0; e < merged.size(); ++e) entries.push_back(e);
    }
    if (t > 0) {
      // Queued, so that the lookups' cache misses overlap.
      LookupQueue queue;
      std::array<const WordTally*, LookupQueue::depth()> tallies;
      std::size_t queued = 0;
      auto add_queued = [&] {
        std::size_t k = 0;
        queue.drain(merged, [&](std::string_view word, std::uint64_t h) {
          const std::uint32_t e = merged.number(word, h);
          WordTally& m = merged.value(e);
          m.documents += tallies[k]->documents;
          m.occurrences += tallies[k++]->occurrences;
          if (kept.complete) kept.merged_entry[t].push_back(e);
        });
        queued = 0;
      };
      counters[t]->table().for_each([&](std::string_view word, const WordTally& tally) {
        tallies[queued++] = &tally;
        queue.push(word, merged);
        if (queue.full()) add_queued();
      });
      add_queued();
    }
    counters[t].reset();
    for (std::size_t s = 0; s < kSets; ++s) result.documents[s] += documents[t][s];
  }
  result.words.reserve(merged.size());
  merged.for_each([&](std::string_view word, const WordTally& tally) {
    result.words.push_back({std::string(word), tally.documents, tally.occurrences});
  });
  result.bytes = reader.reader().bytes();
  if (kept.complete) {
    kept.skipped = reader.reader().skipped();
    kept.bytes = result.bytes;
  }
  return result;
}

WrittenSets encode_sets(const Corpus& corpus, const words::WordFilter& filter,
                        const words::Vocabulary& vocabulary, int threads, const EmitDocument& emit,
                        WordSplitters& splitters, Recording* recording, const HoldOut* held_out) {
  const std::vector<InputFile>& inputs = corpus.inputs();
  const bool recorded = recording && recording->complete;
  // The words of the documents to read are looked up by their text.
  words::WordTable<std::uint32_t> index;
  std::uint32_t max_index = 0;
  for (const words::VocabularyEntry& e : vocabulary) {
    if (!recorded || recording->training < inputs.size()) index[e.word] = e.index;
    max_index = std::max(max_index, e.index);
  }
  // The recorded documents' words: each thread's table entries as vocabulary indices.
  std::vector<std::vector<std::uint32_t>> index_of;
  if (recorded) {
    index_of = std::move(recording->merged_entry);
    for (std::vector<std::uint32_t>& entries : index_of)
      for (std::uint32_t& e : entries) e = recording->index_of[e];
    recording->index_of = {};
  }
  const std::uint64_t recorded_batches = recorded ? recording->batches.size() : 0;
  std::atomic<std::uint64_t> next_recorded{0};
  SharedReader reader(corpus, recorded ? recording->training : 0, inputs.size(),
                      "writing documents", recorded_batches);
  InOrder order;
  WrittenSets written;
  run_threads(
      threads,
      [&](int t) {
        words::WordSplitter& splitter = splitters.of(t);
        DocumentEncoder encoder(index, max_index, filter);
        Batch batch;
        EncodedBatch encoded;
        for (;;) {
          std::uint64_t sequence = next_recorded.fetch_add(1);
          if (sequence < recorded_batches) {
            RecordedBatch& r = recording->batches[sequence];
            encode_recorded(r, recording->words[r.thread].data(), inputs, index_of[r.thread].data(),
                            encoder, encoded);
            r = RecordedBatch();
          } else if (reader.next(batch)) {
            encode_batch(batch, inputs, held_out, splitter, encoder, encoded);
            sequence = batch.sequence;
          } else {
            break;
          }
          if (!order.wait_turn(sequence)) return;
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
  if (recorded) {
    recording->words.clear();
    written.skipped.insert(written.skipped.begin(), recording->skipped.begin(),
                           recording->skipped.end());
    written.bytes += recording->bytes;
  }
  return written;
}

}  // namespace punb::vectorize
