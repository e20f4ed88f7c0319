#include "vectorize/passes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace punb::vectorize {
namespace {

using namespace words;

// What a run of both passes hands out.
struct Output {
  std::array<std::string, kSets> lines;
  std::array<std::string, kSets> ids;
  WrittenSets written;
  bool recorded = false;  // whether the second pass took the training documents from the record
};

Output run_passes(const Corpus& corpus, int threads, std::size_t recording_limit,
                  const VocabularyLimits& limits, Vocabulary* kept = nullptr,
                  const HoldOut* held = nullptr) {
  const std::vector<InputFile>& inputs = corpus.inputs();
  const WordFilter filter;
  WordSplitters splitters(filter.fold, threads);
  std::size_t training = 0;
  while (training < inputs.size() && inputs[training].set != SetKind::test) ++training;
  TrainingWords counted =
      count_training_words(corpus, training, filter, threads, splitters, recording_limit, held);
  Output out;
  out.recorded = counted.recording.complete;
  VocabularyCuts cuts;
  const Vocabulary vocabulary =
      select_vocabulary(std::move(counted.words), counted.documents[0] + counted.documents[1],
                        limits, cuts, out.recorded ? &counted.recording.index_of : nullptr);
  out.written = encode_sets(
      corpus, filter, vocabulary, threads,
      [&](const WrittenDocument& d) {
        out.lines[set_number(d.set)] += d.line;
        out.ids[set_number(d.set)] += d.source;
      },
      splitters, &counted.recording, held);
  if (kept) *kept = vocabulary;
  return out;
}

Output run_passes(const std::vector<InputFile>& inputs, int threads, std::size_t recording_limit,
                  const VocabularyLimits& limits) {
  return run_passes(Corpus(inputs), threads, recording_limit, limits);
}

// Several batches of lines and of files: words repeated within documents, words in other
// scripts (through ICU), ill-formed bytes, empty documents, a file that is not text.
struct SampleCorpus {
  test::TempDir dir;
  std::vector<InputFile> inputs;

  SampleCorpus() {
    std::mt19937 random(7);
    const std::vector<std::string> words = {"the",
                                            "a",
                                            "Cat",
                                            "cat",
                                            "sat",
                                            "3.14",
                                            "don't",
                                            "caf\u00e9",
                                            "\u0436\u0443\u043a",
                                            "\u4f60\u597d\u4e16\u754c",
                                            "x_y",
                                            "on"};
    auto text = [&](int n) {
      std::string t;
      for (int i = 0; i < n; ++i) {
        t += words[random() % words.size()];
        t += random() % 9 == 0 ? ", " : " ";
        if (random() % 50 == 0) t += "rare" + std::to_string(random() % 1000) + " ";
      }
      return t;
    };
    std::string pos;
    for (int i = 0; i < 700; ++i) pos += (i % 97 == 5 ? "" : text(1 + i % 40)) + "\n";
    dir.write("pos", pos);
    mkdir(dir.path("unl").c_str(), 0755);
    for (int i = 0; i < 300; ++i) dir.write("unl/" + std::to_string(1000 + i), text(i % 200));
    dir.write("unl/1007", "bad \xff here \xfe\n and \xc3");  // 3 ill-formed sequences
    dir.write("unl/1010", std::string("not\0text", 8));
    std::string test;
    for (int i = 0; i < 200; ++i) test += text(i % 30) + (i == 3 ? "\xff" : "") + "\n";
    dir.write("test", test);
    const std::vector<InputPath> paths = {{dir.path("pos"), SetKind::positive, 0},
                                          {dir.path("unl"), SetKind::unlabeled, 0},
                                          {dir.path("test"), SetKind::test, -1}};
    std::vector<std::string> warnings;
    inputs = list_inputs(paths, warnings);
  }
  std::uint32_t input_of(const std::string& name) const {
    for (std::uint32_t i = 0; i < inputs.size(); ++i)
      if (inputs[i].path == dir.path(name)) return i;
    return UINT32_MAX;
  }
};

struct RecordingCase {
  std::size_t limit;
  bool recorded;
};

// Whether the second pass reads the training text again or takes the first pass's record, at
// any thread count, it hands out the same lines, sources, totals and reports, and each file's
// ill-formed sequences are its own.
TEST(Passes, TheRecordWritesWhatReadingAgainWrites) {
  const SampleCorpus corpus;
  const RecordingCase cases[] = {
      {0, false},               // nothing recorded
      {64, false},              // given up after the first batch
      {40000, false},           // given up part of the way
      {kRecordingLimit, true},  // all recorded
  };
  for (const VocabularyLimits& limits :
       {VocabularyLimits{}, VocabularyLimits{3, 0.5, kMaxIndex}, VocabularyLimits{1, 1.0, 5}}) {
    const Output reread = run_passes(corpus.inputs, 1, 0, limits);
    ASSERT_FALSE(reread.recorded);
    const std::map<std::uint32_t, std::uint64_t> replaced = {{corpus.input_of("unl/1007"), 3},
                                                             {corpus.input_of("test"), 1}};
    EXPECT_EQ(reread.written.replaced, replaced);
    EXPECT_EQ(reread.written.skipped, std::vector<std::uint32_t>{corpus.input_of("unl/1010")});
    EXPECT_EQ(reread.written.sets[0].documents, 700u);
    EXPECT_EQ(reread.written.sets[1].documents, 299u);
    EXPECT_EQ(reread.written.sets[2].documents, 200u);
    for (const RecordingCase& c : cases) {
      for (int threads : {1, 2, 3}) {
        SCOPED_TRACE("limit " + std::to_string(c.limit) + ", threads " + std::to_string(threads) +
                     ", max words " + std::to_string(limits.max_words));
        const Output o = run_passes(corpus.inputs, threads, c.limit, limits);
        EXPECT_EQ(o.recorded, c.recorded);
        for (std::size_t s = 0; s < kSets; ++s) {
          EXPECT_EQ(o.lines[s], reread.lines[s]) << s;
          EXPECT_EQ(o.ids[s], reread.ids[s]) << s;
          EXPECT_EQ(o.written.sets[s].documents, reread.written.sets[s].documents) << s;
          EXPECT_EQ(o.written.sets[s].positive, reread.written.sets[s].positive) << s;
          EXPECT_EQ(o.written.sets[s].occurrences, reread.written.sets[s].occurrences) << s;
          EXPECT_EQ(o.written.sets[s].out_of_vocabulary, reread.written.sets[s].out_of_vocabulary)
              << s;
        }
        EXPECT_EQ(o.written.replaced, replaced);
        EXPECT_EQ(o.written.skipped, reread.written.skipped);
        EXPECT_EQ(o.written.bytes, reread.written.bytes);
      }
    }
  }
}

// round(F x N) of N documents, each of them as often as any other over the seeds.
TEST(HoldOut, DrawsTheRoundedShareEvenly) {
  const struct {
    std::uint64_t documents;
    double fraction;
    std::uint64_t held;
  } sizes[] = {{0, 0.5, 0}, {10, 0.25, 3}, {10, 0.24, 2},
               {7, 1, 7},   {3, 1e-9, 0},  {1000, 0.333, 333}};
  for (const auto& s : sizes) {
    const HoldOut h(s.documents, s.fraction, 1);
    std::uint64_t held = 0;
    for (std::uint64_t k = 0; k < s.documents + 2; ++k) held += h.contains(k);
    EXPECT_EQ(h.size(), s.held) << s.documents << " " << s.fraction;
    EXPECT_EQ(held, s.held) << s.documents << " " << s.fraction;
  }
  std::vector<int> times(8, 0);
  for (std::uint64_t seed = 0; seed < 4000; ++seed) {
    const HoldOut h(8, 0.25, seed);
    for (std::uint64_t k = 0; k < 8; ++k) times[k] += h.contains(k);
  }
  for (int t : times) EXPECT_NEAR(t, 1000, 100);
}

// Held-out positives are test lines labelled 1 and unlabeled documents, before the sets' own, the
// same whether recorded or read again and at any thread count: as if they had been given as both.
TEST(Passes, HeldOutPositivesAreTestLinesAndUnlabeledDocuments) {
  const SampleCorpus corpus;
  const HoldOut held(count_documents(Corpus(corpus.inputs), 0, 1), 0.3, 5);
  ASSERT_EQ(held.size(), 210u);  // of 700
  std::string kept, out, ids;
  std::istringstream pos(corpus.dir.read("pos"));
  std::uint64_t k = 0;
  for (std::string line; std::getline(pos, line); ++k) {
    (held.contains(k) ? out : kept) += line + "\n";
    if (held.contains(k)) ids += corpus.dir.path("pos") + ":" + std::to_string(k + 1) + "\n";
  }
  corpus.dir.write("kept", kept);
  corpus.dir.write("out", out);
  std::vector<std::string> warnings;
  const std::vector<InputFile> apart = list_inputs({{corpus.dir.path("kept"), SetKind::positive, 0},
                                                    {corpus.dir.path("out"), SetKind::unlabeled, 0},
                                                    {corpus.dir.path("unl"), SetKind::unlabeled, 0},
                                                    {corpus.dir.path("out"), SetKind::test, 1},
                                                    {corpus.dir.path("test"), SetKind::test, -1}},
                                                   warnings);
  Vocabulary expected;
  const Output reference = run_passes(Corpus(apart), 1, 0, {}, &expected);
  auto after_held = [&](std::size_t set, const std::string& name) {
    return ids + reference.ids[set].substr(reference.ids[set].find(corpus.dir.path(name)));
  };
  for (const std::size_t limit : {std::size_t{0}, kRecordingLimit}) {
    for (const int threads : {1, 3}) {
      SCOPED_TRACE(std::to_string(limit) + " " + std::to_string(threads));
      Vocabulary v;
      const Output o = run_passes(Corpus(corpus.inputs), threads, limit, {}, &v, &held);
      EXPECT_EQ(o.recorded, limit > 0);
      ASSERT_EQ(v.size(), expected.size());
      for (std::size_t i = 0; i < v.size(); ++i) {
        EXPECT_EQ(v[i].word, expected[i].word);
        EXPECT_EQ(v[i].documents, expected[i].documents);
      }
      EXPECT_EQ(o.lines, reference.lines);
      EXPECT_EQ(o.ids[1], after_held(1, "unl"));
      EXPECT_EQ(o.ids[2], after_held(2, "test"));
      EXPECT_EQ(o.written.sets[2].positive, 210u);
    }
  }
}

// Texts held in memory read as the lines of a file of the same texts (and, holding line breaks,
// as the files of a folder): the same vocabulary and lines, at any thread count, recorded or not.
TEST(Passes, TextsInMemoryReadAsTheLinesOfAFile) {
  test::TempDir dir;
  std::mt19937 random(5);
  const std::vector<std::string> pieces = {"Rose",
                                           "rose",
                                           "ROSES",
                                           "don't",
                                           "3.14",
                                           "caf\u00e9",
                                           "Stra\u00dfe",
                                           "\u82b1\u56ed\u91cc",
                                           "x",
                                           "a_b",
                                           "\xff",
                                           "",
                                           "\u0436\u0443\u043a"};
  for (const bool whole : {false, true}) {
    SCOPED_TRACE(whole ? "files" : "lines");
    std::vector<std::string> texts;
    std::string lines;
    mkdir(dir.path("folder").c_str(), 0755);
    for (int k = 0; k < 400; ++k) {
      std::string t;
      for (int w = static_cast<int>(random() % 30); w > 0; --w)
        t += pieces[random() % pieces.size()] + (whole && w % 7 == 0 ? "\n" : " ");
      lines += t + "\n";
      char name[16];
      std::snprintf(name, sizeof name, "%04d", k);
      dir.write(std::string("folder/") + name, t);
      texts.push_back(std::move(t));
    }
    dir.write("lines", lines);
    std::vector<std::string> warnings;
    const std::vector<InputFile> inputs =
        list_inputs({{dir.path(whole ? "folder" : "lines"), SetKind::unlabeled, 0}}, warnings);
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    for (const VocabularyLimits& limits : {VocabularyLimits{}, VocabularyLimits{2, 0.3, 20}}) {
      Vocabulary from_files;
      const Output files = run_passes(Corpus(inputs), 1, 0, limits, &from_files);
      for (const int threads : {1, 3}) {
        for (const std::size_t limit : {std::size_t{0}, kRecordingLimit}) {
          Vocabulary from_memory;
          const Output memory = run_passes(Corpus(views), threads, limit, limits, &from_memory);
          EXPECT_EQ(memory.recorded, limit > 0);
          EXPECT_EQ(memory.lines, files.lines);
          ASSERT_EQ(from_memory.size(), from_files.size());
          for (std::size_t i = 0; i < from_files.size(); ++i) {
            EXPECT_EQ(from_memory[i].word, from_files[i].word);
            EXPECT_EQ(from_memory[i].documents, from_files[i].documents);
            EXPECT_EQ(from_memory[i].occurrences, from_files[i].occurrences);
          }
          EXPECT_EQ(memory.written.sets[1].documents, 400u);
          const auto replaced = [](const WrittenSets& w) {
            std::uint64_t n = 0;
            for (const auto& [input, count] : w.replaced) n += count;
            return n;
          };
          EXPECT_EQ(replaced(memory.written), replaced(files.written));
          EXPECT_GT(replaced(memory.written), 0u);
          EXPECT_EQ(memory.written.bytes,
                    whole ? files.written.bytes : files.written.bytes - texts.size());
        }
      }
    }
  }
}

}  // namespace
}  // namespace punb::vectorize
