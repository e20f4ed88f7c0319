// Runs of the built punb-vectorize, and of punb on what it writes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <sstream>

#include "test_support.h"

namespace punb::test {
namespace {

const std::vector<std::string> kExample = {
    "--pos",      EXAMPLE_TEXT_DIR "/train/pos", "--unlabel",  EXAMPLE_TEXT_DIR "/train/unsup",
    "--test-pos", EXAMPLE_TEXT_DIR "/test/pos",  "--test-neg", EXAMPLE_TEXT_DIR "/test/neg"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The vocabulary's words by index.
std::vector<std::string> vocabulary_words(const std::string& text) {
  std::vector<std::string> words;
  for (const std::string& line : lines_of(text)) words.push_back(line.substr(line.rfind('\t') + 1));
  return words;
}

const char* const kStemFiles[] = {"pos",     "unlabel",     "test",    "vocab",
                                  "pos.ids", "unlabel.ids", "test.ids"};

TEST(Vectorize, TheExampleCorpusGoesToAPositiveUnlabeledResult) {
  const TempDir dir;
  const RunResult v = run_vectorize(dir, with({"-o", "ex"}, kExample));
  ASSERT_EQ(v.status, 0) << v.err;
  EXPECT_NE(
      v.err.find("documents: positive 120 unlabeled 360 test 200 (100 positive, 100 negative)"),
      std::string::npos)
      << v.err;
  const RunResult pu = run_punb(dir, {"-kov", "-f", "ex"});
  ASSERT_EQ(pu.status, 0) << pu.out << pu.err;
  EXPECT_EQ(count_lines(dir.read("ex.output")), 200u);
  EXPECT_NE(pu.out.find("The Final Result"), std::string::npos);
  EXPECT_EQ(run_punb(dir, {"-nb", "-f", "ex"}).status, 0);

  // Every line is a document of its ids line, in the order of the files' relative paths.
  const auto ids = lines_of(dir.read("ex.test.ids"));
  const auto test = lines_of(dir.read("ex.test"));
  ASSERT_EQ(ids.size(), 200u);
  EXPECT_EQ(ids[0], EXAMPLE_TEXT_DIR "/test/pos/0001.txt");
  EXPECT_EQ(ids[100], EXAMPLE_TEXT_DIR "/test/neg/0001.txt");
  EXPECT_EQ(test[99].rfind("1 ", 0), 0u);
  EXPECT_EQ(test[100].rfind("-1 ", 0), 0u);
  EXPECT_EQ(count_lines(dir.read("ex.pos.ids")), 120u);
  EXPECT_EQ(count_lines(dir.read("ex.unlabel.ids")), 360u);
}

TEST(Vectorize, LinesHoldSortedPairsOfTheVocabularyIndices) {
  const TempDir dir;
  dir.write("pos", "b a b c\n\nC c c\n");
  dir.write("unl", "a d\n");
  dir.write("tpos", "d d zzz\nzzz\n");
  const RunResult r =
      run_vectorize(dir, {"-o", "s", "--pos", "pos", "--unlabel", "unl", "--test-pos", "tpos"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Document frequencies: c 2, a 2, b 1, d 1: ties in byte order.
  EXPECT_EQ(dir.read("s.vocab"), "1\t2\t2\ta\n2\t2\t4\tc\n3\t1\t2\tb\n4\t1\t1\td\n");
  EXPECT_EQ(dir.read("s.pos"), "1:1 2:1 3:2\n\n2:3\n");
  EXPECT_EQ(dir.read("s.unlabel"), "1:1 4:1\n");
  EXPECT_EQ(dir.read("s.test"), "1 4:2\n1\n");  // test words never enter the vocabulary
  EXPECT_EQ(dir.read("s.pos.ids"), "pos:1\npos:2\npos:3\n");
  EXPECT_NE(r.err.find("kept / not in the vocabulary: positive 7 / 0 unlabeled 2 / 0 test 2 / 2"),
            std::string::npos)
      << r.err;
}

TEST(Vectorize, TestDocumentsNeverShapeTheVocabulary) {
  const TempDir dir;
  dir.write("pos", "alpha beta\n");
  dir.write("unl", "beta gamma\n");
  dir.write("test", "alpha alpha alpha leak leak\n");
  const std::vector<std::string> args = {"--pos", "pos", "--unlabel", "unl", "--test-neg", "test"};
  ASSERT_EQ(run_vectorize(dir, with({"-o", "a"}, args)).status, 0);
  dir.write("test", "other words entirely\n");
  ASSERT_EQ(run_vectorize(dir, with({"-o", "b"}, args)).status, 0);
  EXPECT_EQ(dir.read("a.vocab"), dir.read("b.vocab"));
  EXPECT_EQ(dir.read("a.vocab"), "1\t2\t2\tbeta\n2\t1\t1\talpha\n3\t1\t1\tgamma\n");
  EXPECT_EQ(dir.read("a.test"), "-1 2:3\n");
}

TEST(Vectorize, SameFilesAtEveryThreadCountAndThroughASavedVocabulary) {
  const TempDir dir;
  ASSERT_EQ(run_vectorize(dir, with({"-o", "one", "-j", "1"}, kExample)).status, 0);
  for (const char* threads : {"2", "3", "0"}) {
    const std::string stem = std::string("j") + threads;
    ASSERT_EQ(run_vectorize(dir, with({"-o", stem, "-j", threads}, kExample)).status, 0);
    for (const char* ext : kStemFiles)
      EXPECT_EQ(dir.read(stem + "." + ext), dir.read(std::string("one.") + ext)) << stem << ext;
  }
  const RunResult again =
      run_vectorize(dir, with({"-o", "again", "--vocab", "one.vocab"}, kExample));
  ASSERT_EQ(again.status, 0) << again.err;
  for (const char* ext : kStemFiles)
    EXPECT_EQ(dir.read(std::string("again.") + ext), dir.read(std::string("one.") + ext)) << ext;

  // New documents scored against the old vocabulary: unknown words are left out.
  dir.write("new", "Hedgehog and telescope, quux-blorp!\n");
  ASSERT_EQ(run_vectorize(dir, {"-o", "new", "--vocab", "one.vocab", "--test-pos", "new"}).status,
            0);
  const auto words = vocabulary_words(dir.read("one.vocab"));
  std::set<std::string> seen;
  std::istringstream line(dir.read("new.test"));
  std::string label, pair;
  line >> label;
  EXPECT_EQ(label, "1");
  while (line >> pair) seen.insert(words.at(std::stoul(pair.substr(0, pair.find(':'))) - 1));
  EXPECT_EQ(seen, (std::set<std::string>{"hedgehog", "and", "telescope"}));
  EXPECT_FALSE(dir.exists("new.pos"));
}

// A share of the positives goes to the test set and among the unlabeled documents, the same at
// every thread count and drawn anew by another seed; punb runs on a test set of them alone as on
// any other.
TEST(Vectorize, HeldOutPositivesLeadTheTestSet) {
  const TempDir dir;
  const std::vector<std::string> train(kExample.begin(), kExample.begin() + 4);
  ASSERT_EQ(run_vectorize(dir, with({"-o", "none"}, kExample)).status, 0);
  ASSERT_EQ(run_vectorize(dir, with({"-o", "zero", "--holdout", "0"}, kExample)).status, 0);
  for (const char* ext : kStemFiles)
    EXPECT_EQ(dir.read(std::string("zero.") + ext), dir.read(std::string("none.") + ext)) << ext;
  const RunResult one = run_vectorize(
      dir, with({"-o", "one", "-j", "1", "--holdout", "0.25", "--seed", "3"}, kExample));
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_NE(one.err.find("held out: 30 of 120 positive documents (seed 3)"), std::string::npos);
  EXPECT_NE(one.err.find("positive 90 unlabeled 390 test 230 (130 positive, 100 negative)"),
            std::string::npos)
      << one.err;
  ASSERT_EQ(run_vectorize(
                dir, with({"-o", "three", "-j", "3", "--holdout", "0.25", "--seed", "3"}, kExample))
                .status,
            0);
  for (const char* ext : kStemFiles)
    EXPECT_EQ(dir.read(std::string("three.") + ext), dir.read(std::string("one.") + ext)) << ext;
  const auto ids = lines_of(dir.read("one.test.ids"));
  const auto positives = lines_of(dir.read("one.pos.ids"));
  std::set<std::string> held(ids.begin(), ids.begin() + 30);
  for (const std::string& id : held) EXPECT_EQ(id.find("/train/pos/"), id.find("/train/")) << id;
  for (const std::string& id : positives) EXPECT_FALSE(held.count(id)) << id;
  EXPECT_EQ(ids[30], EXAMPLE_TEXT_DIR "/test/pos/0001.txt");
  EXPECT_EQ(lines_of(dir.read("one.unlabel.ids")), with(std::vector(ids.begin(), ids.begin() + 30),
                                                        lines_of(dir.read("none.unlabel.ids"))));
  EXPECT_EQ(lines_of(dir.read("one.test"))[29], "1 " + lines_of(dir.read("one.unlabel"))[29]);

  ASSERT_EQ(
      run_vectorize(dir, with({"-o", "other", "--holdout", "0.25", "--seed", "4"}, train)).status,
      0);
  EXPECT_NE(lines_of(dir.read("other.test.ids")), std::vector(ids.begin(), ids.begin() + 30));
  EXPECT_EQ(count_lines(dir.read("other.test")), 30u);
  const RunResult pu = run_punb(dir, {"-kov", "-f", "other"});
  EXPECT_EQ(pu.status, 0) << pu.out;
  EXPECT_NE(pu.out.find("The Final Result"), std::string::npos);
  EXPECT_EQ(count_lines(dir.read("other.output")), 30u);
}

TEST(Vectorize, WordOptionsShapeTheVocabulary) {
  const TempDir dir;
  dir.write("pos", "The cat and THE dog\nI am a cat\n");
  dir.write("unl", "a dog is not the cat\n");
  dir.write("stop", "# mine\n  DOG \n");
  auto words = [&](const std::vector<std::string>& extra) {
    const RunResult r =
        run_vectorize(dir, with({"-o", "w", "--pos", "pos", "--unlabel", "unl"}, extra));
    EXPECT_EQ(r.status, 0) << r.err;
    auto w = vocabulary_words(dir.read("w.vocab"));
    return std::set<std::string>(w.begin(), w.end());
  };
  using S = std::set<std::string>;
  EXPECT_EQ(words({"--stop-words", "english"}), (S{"cat", "dog"}));
  EXPECT_EQ(words({"--stop-words", "stop", "--min-length", "3"}), (S{"the", "cat", "and", "not"}));
  EXPECT_EQ(words({"--no-fold", "--min-df", "2"}), (S{"cat", "a", "dog"}));
  EXPECT_EQ(words({"--max-df", "0.5"}), (S{"and", "i", "am", "is", "not"}));
  EXPECT_EQ(words({"--max-words", "2"}), (S{"cat", "a"}));  // "a" before "dog" and "the"
}

TEST(Vectorize, NoMoreIndicesThanPunbReads) {
  const TempDir dir;
  std::string many;
  for (int i = 0; i < 500003; ++i) {
    many += 'w';
    many += std::to_string(i);
    many += i % 20 == 19 ? '\n' : ' ';
  }
  dir.write("pos", many + "\n");
  dir.write("unl", "w7 w7\n");
  dir.write("test", "w7 w499999 w0\n");
  ASSERT_EQ(
      run_vectorize(dir, {"-o", "cap", "--pos", "pos", "--unlabel", "unl", "--test-neg", "test"})
          .status,
      0);
  const auto vocab = lines_of(dir.read("cap.vocab"));
  ASSERT_EQ(vocab.size(), 499999u);
  EXPECT_EQ(vocab.front(), "1\t2\t3\tw7");
  EXPECT_EQ(vocab.back().rfind("499999\t1\t1\t", 0), 0u);
  const RunResult nb = run_punb(dir, {"-nb", "-f", "cap"});
  EXPECT_EQ(nb.status, 0) << nb.out << nb.err;
}

TEST(Vectorize, SkipsFilesThatAreNotTextAndReportsBadBytes) {
  const TempDir dir;
  mkdir(dir.path("p").c_str(), 0755);
  mkdir(dir.path("p/sub").c_str(), 0755);
  std::string bees;  // a document longer than what is read at a time
  for (int i = 0; i < 30000; ++i) bees += "bee ";
  dir.write("p/b", bees + "\n");
  dir.write("p/sub/a",
            "ant\xff"
            "eater");
  dir.write("p/binary", std::string("x\0y", 3));
  std::string lines = "ant\xc3\n";  // one bad byte, in a file of several batches
  for (int i = 0; i < 400; ++i) lines += "ant\n";
  dir.write("u", lines);
  const RunResult r = run_vectorize(dir, {"-o", "s", "--pos", "p/", "--unlabel", "u", "-j", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir.read("s.pos.ids"), "p/b\np/sub/a\n");
  EXPECT_NE(r.err.find("p/binary: NUL bytes"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("p/sub/a: 1 invalid UTF-8"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" u: 1 invalid UTF-8"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("skipped files: 1"), std::string::npos) << r.err;
  EXPECT_EQ(dir.read("s.pos").substr(0, 10), "2:30000\n1:");
  EXPECT_EQ(vocabulary_words(dir.read("s.vocab")),
            (std::vector<std::string>{"ant", "bee", "eater"}));
}

struct Failure {
  std::vector<std::string> args;
  int status;
  const char* message;
};

TEST(Vectorize, AFailedRunNamesTheCauseAndLeavesEarlierFilesAlone) {
  const TempDir dir;
  dir.write("p", "a b\n");
  dir.write("u", "b c\n");
  dir.write("empty", "");
  dir.write("bad.vocab", "1\t1\t1\ta\nnonsense\n");
  ASSERT_EQ(run_vectorize(dir, {"-o", "s", "--pos", "p", "--unlabel", "u"}).status, 0);
  const std::string before = dir.read("s.pos");
  const Failure cases[] = {
      {{"--pos", "p", "--unlabel", "missing"}, 1, "punb-vectorize: missing: No such file"},
      {{"--pos", "empty", "--unlabel", "u"},
       1,
       "punb-vectorize: empty: no documents for the positive set"},
      {{"--vocab", "bad.vocab", "--pos", "p"}, 1, "punb-vectorize: bad.vocab:2: expected"},
      {{"--pos", "p", "--unlabel", "u", "--stop-words", "none"},
       1,
       "punb-vectorize: none: No such"},
      {{"--pos", "p", "--unlabel", "u", "--test-pos", "gone"}, 1, "punb-vectorize: gone: No such"},
      {{"--pos", "p", "--unlabel", "u", "-j", "-2"}, 2, "punb-vectorize: -j takes"},
      {{"--pos", "p", "--unlabel", "u", "--holdout", "1"},
       1,
       "punb-vectorize: p: no documents for the positive set (--holdout took every one"},
  };
  for (const Failure& c : cases) {
    const RunResult r = run_vectorize(dir, with({"-o", "s"}, c.args));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    EXPECT_EQ(dir.read("s.pos"), before);
    EXPECT_FALSE(dir.exists("s.test"));
  }
  const RunResult nowhere = run_vectorize(dir, {"-o", "nowhere/s", "--pos", "p", "--unlabel", "u"});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_EQ(nowhere.err, "punb-vectorize: nowhere/s.pos: No such file or directory\n");
  // A name taken by a directory fails the renaming at the end: no temporary file stays behind.
  const TempDir blocked;
  blocked.write("p", "a b\n");
  mkdir(blocked.path("s.pos").c_str(), 0755);
  const RunResult r = run_vectorize(blocked, {"-o", "s", "--pos", "p", "--unlabel", "p"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("punb-vectorize: s.pos: ", 0), 0u) << r.err;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(blocked.root()),
                          std::filesystem::directory_iterator()),
            2);  // p and the directory s.pos
  const RunResult help = run_vectorize(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: punb-vectorize -o STEM", 0), 0u);
  std::set<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.root()))
    left.insert(e.path().filename());
  EXPECT_EQ(left,
            (std::set<std::string>{"p", "u", "empty", "bad.vocab", "s.pos", "s.unlabel", "s.vocab",
                                   "s.vocab.options", "s.pos.ids", "s.unlabel.ids"}));
}

}  // namespace
}  // namespace punb::test
