#include "vectorize/run.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string_view>

#include "docfile/fatal.h"
#include "docfile/staged.h"
#include "vectorize/passes.h"
#include "words/filter.h"
#include "words/words.h"

namespace punb::vectorize {

namespace {

constexpr const char* kSetExtension[kSets] = {".pos", ".unlabel", ".test"};
constexpr const char* kSetName[kSets] = {"positive", "unlabeled", "test"};

std::string paths_of(const Options& o, SetKind set) {
  std::string paths;
  for (const InputPath& p : o.inputs)
    if (p.set == set) paths += (paths.empty() ? "" : ", ") + p.path;
  return paths;
}

struct BuiltVocabulary {
  words::Vocabulary vocabulary;
  words::VocabularyCuts cuts;
  std::uint64_t training_documents = 0;
  Recording recording;  // of the training documents, for writing them
};

// The input files before the first of set `set`: inputs come in set order.
std::size_t inputs_before(const std::vector<InputFile>& inputs, SetKind set) {
  return static_cast<std::size_t>(
      std::find_if(inputs.begin(), inputs.end(), [&](const InputFile& f) { return f.set >= set; }) -
      inputs.begin());
}

BuiltVocabulary build_vocabulary(const Options& o, const std::vector<InputFile>& inputs,
                                 const words::WordFilter& filter, WordSplitters& splitters,
                                 const HoldOut* held_out) {
  TrainingWords counted =
      count_training_words(Corpus(inputs), inputs_before(inputs, SetKind::test), filter, o.threads,
                           splitters, kRecordingLimit, held_out);
  for (SetKind set : {SetKind::positive, SetKind::unlabeled}) {
    if (counted.documents[set_number(set)] == 0) {
      const bool all_held = set == SetKind::positive && held_out && held_out->size() > 0;
      throw Fatal("empty training set",
                  paths_of(o, set) + ": no documents for the " + kSetName[set_number(set)] +
                      " set" + (all_held ? " (--holdout took every one of them)" : ""));
    }
  }
  BuiltVocabulary built;
  built.training_documents = counted.documents[0] + counted.documents[1];
  built.vocabulary = words::select_vocabulary(
      std::move(counted.words), built.training_documents, o.limits, built.cuts,
      counted.recording.complete ? &counted.recording.index_of : nullptr);
  built.recording = std::move(counted.recording);
  return built;
}

void report(const Options& o, const std::vector<InputFile>& inputs, const BuiltVocabulary& built,
            const WrittenSets& written, const HoldOut* held_out, std::ostream& log) {
  for (std::uint32_t i : written.skipped)
    log << "punb-vectorize: " << inputs[i].path
        << ": NUL bytes in the first 8 kB, not text: skipped\n";
  std::set<std::string_view> reported;  // a file given for two sets is read twice
  for (const auto& [input, n] : written.replaced) {
    const std::string& path = inputs[input].path;
    if (!reported.insert(path).second) continue;
    log << "punb-vectorize: " << path << ": " << n << " invalid UTF-8 sequence(s) replaced\n";
  }

  if (held_out) {
    log << "punb-vectorize: held out: " << held_out->size() << " of " << held_out->documents()
        << " positive documents (seed " << o.seed << "), the first " << held_out->size()
        << " lines of " << o.stem << ".test and of " << o.stem << ".unlabel\n";
  }
  log << "punb-vectorize: documents:";
  for (std::size_t s = 0; s < kSets; ++s) {
    if (!o.has(static_cast<SetKind>(s)) && !held_out) continue;
    const SetTotals& t = written.sets[s];
    log << " " << kSetName[s] << " " << t.documents;
    if (s == set_number(SetKind::test))
      log << " (" << t.positive << " positive, " << t.documents - t.positive << " negative)";
  }
  log << "; " << written.bytes << " bytes read\n";
  log << "punb-vectorize: vocabulary: " << built.vocabulary.size() << " words";
  if (o.vocabulary_file.empty()) {
    log << " of " << built.cuts.seen << " in " << built.training_documents
        << " training documents; dropped " << built.cuts.too_rare << " below --min-df, "
        << built.cuts.too_common << " above --max-df, " << built.cuts.over_cap
        << " beyond --max-words\n";
  } else {
    log << " from " << o.vocabulary_file << "\n";
  }
  log << "punb-vectorize: word occurrences kept / not in the vocabulary:";
  for (std::size_t s = 0; s < kSets; ++s) {
    if (o.has(static_cast<SetKind>(s)) || held_out)
      log << " " << kSetName[s] << " " << written.sets[s].occurrences << " / "
          << written.sets[s].out_of_vocabulary;
  }
  log << "\npunb-vectorize: skipped files: " << written.skipped.size() << "\n";
  if (built.vocabulary.empty())
    log << "punb-vectorize: warning: the vocabulary is empty, every line is without words\n";
}

}  // namespace

void run(const Options& o, std::ostream& log) {
  words::WordSplitter folder(o.words.fold);
  words::WordSet stop_words;
  words::WordFilter filter{o.words.fold, o.words.min_length, nullptr};
  if (!o.words.stop_words.empty()) {
    stop_words = words::load_stop_words(o.words.stop_words, folder);
    filter.stop_words = &stop_words;
  }

  std::vector<std::string> warnings;
  const std::vector<InputFile> inputs = list_inputs(o.inputs, warnings);
  for (const std::string& w : warnings) log << "punb-vectorize: " << w << "\n";

  // The positive documents are counted first, for a draw that does not depend on how the
  // passes share them out. A fraction of 0 holds out nothing and writes what a run without it
  // writes. The held-out positives are unlabeled training documents too, as spies are: the
  // classifier then learns from them as from the unlabeled positives, whose posteriors theirs
  // stand for.
  std::optional<HoldOut> held_out;
  if (o.holdout && *o.holdout > 0) {
    const std::uint64_t positives =
        count_documents(Corpus(inputs), 0, inputs_before(inputs, SetKind::unlabeled));
    held_out.emplace(positives, *o.holdout, o.seed);
  }
  const HoldOut* held = held_out ? &*held_out : nullptr;

  WordSplitters splitters(o.words.fold, o.threads);
  BuiltVocabulary built;
  if (o.vocabulary_file.empty())
    built = build_vocabulary(o, inputs, filter, splitters, held);
  else
    built.vocabulary = words::read_vocabulary(o.vocabulary_file);

  StagedFiles files("can not write output");
  // Where each set's lines and their sources go.
  std::array<OutFile*, kSets> lines{};
  std::array<OutFile*, kSets> ids{};
  for (std::size_t s = 0; s < kSets; ++s) {
    if (!o.has(static_cast<SetKind>(s)) && !held) continue;
    const std::string path = o.stem + kSetExtension[s];
    lines[s] = &files.add(path);
    ids[s] = &files.add(path + ".ids");
  }
  words::write_vocabulary(built.vocabulary, files.add(o.stem + ".vocab"));
  words::write_word_reading({o.words.fold, o.words.min_length},
                            files.add(o.stem + ".vocab.options"));
  const WrittenSets written = encode_sets(
      Corpus(inputs), filter, built.vocabulary, o.threads,
      [&](const WrittenDocument& d) {
        lines[set_number(d.set)]->write(d.line);
        ids[set_number(d.set)]->write(d.source);
      },
      splitters, &built.recording, held);
  files.commit();
  report(o, inputs, built, written, held, log);
}

}  // namespace punb::vectorize
