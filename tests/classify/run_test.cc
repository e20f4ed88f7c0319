// punb-classify on documents, sources and text: ranking, filters, text read as punb-vectorize
// reads it, and a table of bad model files and bad runs, each with its status and message and
// without a partial output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace punb::test {
namespace {

namespace fs = std::filesystem;

// A small naive Bayes model and seven documents: d0 and d3 are the same document, so are d5 and
// d6 (an unseen word and no word score by the priors alone); the others score apart.
void small_model(const TempDir& dir) {
  dir.write("c.pos", "1:4 2:1\n1:2 3:1\n");
  dir.write("c.unlabel", "3:4 2:1\n3:2 4:1\n2:2\n");
  dir.write("c.test", "1 1:1\n-1 3:1\n");
  ASSERT_EQ(run_punb(dir, {"-nb", "-f", "c", "--model", "m"}).status, 0);
  dir.write("docs", "1:1\n3:1\n2:1\n1:1\n1:1 3:1\n9:1\n\n");
  dir.write("docs.ids", "d0\nd1\nd2\nd3\nd4\nd5\nd6\n");
}

TEST(Classify, RanksByPosteriorWithTiesInInputOrderAndFilters) {
  TempDir dir;
  small_model(dir);
  const std::vector<std::string> plain = lines_of(run_classify(dir, {"m", "docs"}).out);
  ASSERT_EQ(plain.size(), 7u);
  // What the ranking must be: by decreasing posterior, a stable sort keeping input order in ties.
  std::vector<int> order = {0, 1, 2, 3, 4, 5, 6};
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return std::stod(plain[a]) > std::stod(plain[b]); });
  EXPECT_EQ(plain[0], plain[3]);
  EXPECT_EQ(plain[5], plain[6]);
  EXPECT_EQ(std::set<std::string>(plain.begin(), plain.end()).size(), 5u);

  std::vector<std::string> ranked;
  for (int d : order) ranked.push_back(plain[d] + "\td" + std::to_string(d));
  for (const char* j : {"1", "3"}) {
    EXPECT_EQ(
        lines_of(run_classify(dir, {"m", "--rank", "--ids", "docs.ids", "docs", "-j", j}).out),
        ranked);
    EXPECT_EQ(
        lines_of(run_classify(dir, {"m", "--top", "3", "--ids", "docs.ids", "docs", "-j", j}).out),
        std::vector<std::string>(ranked.begin(), ranked.begin() + 3));
  }
  // Without sources, only the posteriors; --top past the end keeps all.
  std::vector<std::string> posteriors;
  for (int d : order) posteriors.push_back(plain[d]);
  EXPECT_EQ(lines_of(run_classify(dir, {"m", "--rank", "docs"}).out), posteriors);
  EXPECT_EQ(lines_of(run_classify(dir, {"m", "--top", "99", "docs"}).out), posteriors);

  // --min between two posteriors: in input order, and ranked.
  const double cut = (std::stod(posteriors[2]) + std::stod(posteriors[3])) / 2;
  char min[32];
  std::snprintf(min, sizeof min, "%.17g", cut);
  std::vector<std::string> above;
  for (int d = 0; d < 7; ++d)
    if (std::stod(plain[d]) >= cut) above.push_back(plain[d] + "\td" + std::to_string(d));
  EXPECT_EQ(above.size(), 3u);
  EXPECT_EQ(lines_of(run_classify(dir, {"m", "--min", min, "--ids", "docs.ids", "docs"}).out),
            above);
  EXPECT_EQ(
      lines_of(run_classify(dir, {"m", "--min", min, "--rank", "--ids", "docs.ids", "docs"}).out),
      std::vector<std::string>(ranked.begin(), ranked.begin() + 3));
  EXPECT_EQ(lines_of(run_classify(dir, {"m", "--min", min, "--top", "2", "docs"}).out),
            std::vector<std::string>(posteriors.begin(), posteriors.begin() + 2));
  // Options may come anywhere after the model; "--" ends them. A device is written in place.
  dir.write("-docs", dir.read("docs"));
  EXPECT_EQ(run_classify(dir, {"m", "--rank", "--", "-docs"}).out,
            run_classify(dir, {"--rank", "m", "docs"}).out);
  EXPECT_EQ(run_classify(dir, {"m", "docs", "-o", "/dev/null"}).status, 0);
}

TEST(Classify, SourcesMustMatchTheDocumentsOneForOne) {
  TempDir dir;
  small_model(dir);
  dir.write("short.ids", "d0\nd1\n");
  dir.write("a.ids", "d0\nd1\nd2\n");
  dir.write("b.ids", "d3\nd4\nd5\nd6\nd7\n");
  dir.write("crlf.ids", "d0\r\nd1\r\nd2\r\nd3\r\nd4\r\nd5\r\nd6\r\n");
  for (const char* rank : {"--rank", "--min"}) {
    const std::vector<std::string> extra = std::string(rank) == "--min"
                                               ? std::vector<std::string>{"--min", "0"}
                                               : std::vector<std::string>{"--rank"};
    auto with = [&](std::vector<std::string> args) {
      args.insert(args.end(), extra.begin(), extra.end());
      return run_classify(dir, args);
    };
    const RunResult too_few = with({"m", "--ids", "short.ids", "docs"});
    EXPECT_EQ(too_few.status, 1);
    EXPECT_NE(too_few.err.find("short.ids"), std::string::npos) << too_few.err;
    const RunResult too_many = with({"m", "--ids", "a.ids", "--ids", "b.ids", "docs"});
    EXPECT_EQ(too_many.status, 1);
    EXPECT_NE(too_many.err.find("b.ids"), std::string::npos) << too_many.err;
    const RunResult windows = with({"m", "--ids", "crlf.ids", "docs"});
    EXPECT_EQ(windows.status, 0) << windows.err;
    EXPECT_EQ(windows.out, with({"m", "--ids", "docs.ids", "docs"}).out);
  }
  // Several files of documents and of sources are taken as one list each.
  dir.write("docs1", "1:1\n3:1\n2:1\n");
  dir.write("docs2", "1:1\n1:1 3:1\n9:1\n\n");
  dir.write("b.ids", "d3\nd4\nd5\nd6\n");
  EXPECT_EQ(run_classify(dir, {"m", "--ids", "a.ids", "--ids", "b.ids", "docs1", "docs2"}).out,
            run_classify(dir, {"m", "--ids", "docs.ids", "docs"}).out);
}

// Sources ranked with their documents come from pipes as well as files, short ones (held
// inside the string that reads them) among long ones, in any order of --ids files.
TEST(Classify, RanksSourcesFromPipesAndFilesTogether) {
  TempDir dir;
  small_model(dir);
  std::string docs, all_ids;
  std::vector<std::string> parts(5);
  const std::size_t ends[] = {3, 1003, 1005, 2500, 3000};
  for (std::size_t i = 0, part = 0; i < 3000; ++i) {
    if (i == ends[part]) ++part;
    docs += std::to_string(1 + i % 4) + ":" + std::to_string(1 + i % 7) + " 9:1\n";
    std::string id = part == 0 || part == 2 ? "s" : "source " + std::string(60, 'x');
    id += std::to_string(i);
    parts[part] += id + "\n";
    all_ids += id + "\n";
  }
  dir.write("many", docs);
  dir.write("all.ids", all_ids);
  for (std::size_t p = 0; p < parts.size(); ++p) dir.write("part" + std::to_string(p), parts[p]);
  const RunResult one_file = run_classify(dir, {"m", "--rank", "--ids", "all.ids", "many"});
  ASSERT_EQ(one_file.status, 0) << one_file.err;
  ASSERT_EQ(lines_of(one_file.out).size(), 3000u);
  // Pipes as a shell makes them (/dev/fd/N), one of them empty.
  const std::string pipes =
      "exec \"$0\" m --rank -j 2 --ids <(cat part0) --ids part1 --ids <(cat part2) "
      "--ids <(cat part3) --ids part4 --ids <(:) many";
  const RunResult piped = run_in_directory(dir.root(), "/bin/bash", {"-c", pipes, CLASSIFY_BINARY});
  EXPECT_EQ(piped.status, 0) << piped.err;
  const auto [got, want] =
      std::mismatch(piped.out.begin(), piped.out.end(), one_file.out.begin(), one_file.out.end());
  EXPECT_TRUE(got == piped.out.end() && want == one_file.out.end())
      << "the output differs from byte " << got - piped.out.begin() << " of " << one_file.out.size()
      << ": " << std::string(got, std::min(got + 80, piped.out.end()));
}

// A system that starts no more threads: a run's pool goes on with the threads it got, to the
// same bytes, while a pass of the text reader, which shares its work out by thread, ends the run
// with a message instead of an abort.
TEST(Classify, ThreadsTheSystemRefuses) {
  TempDir dir;
  dir.write("p", "roses and tulips\ngarden roses\nroses\n");
  dir.write("u", "traffic news\nroses in the news\nweather\n");
  ASSERT_EQ(run_vectorize(dir, {"-o", "s", "--pos", "p", "--unlabel", "u"}).status, 0);
  dir.write("s.test", "1 1:1\n-1 2:1\n");
  ASSERT_EQ(run_punb(dir, {"-nb", "-f", "s", "--model", "m"}).status, 0);
  struct Case {
    const char* program;
    std::vector<std::string> args;
    int status;
    const char* err;   // how standard error begins
    const char* file;  // written by a run that succeeds, absent after one that fails
  };
  const Case cases[] = {
      {CLASSIFY_BINARY,
       {"m", "--text", "p", "u", "-j", "4", "-o", "out"},
       1,
       "punb-classify: can not start 4 threads: ",
       "out"},
      {VECTORIZE_BINARY,
       {"-o", "t", "--vocab", "s.vocab", "--unlabel", "u", "-j", "4"},
       1,
       "punb-vectorize: can not start 4 threads: ",
       "t.unlabel"},
      {CLASSIFY_BINARY, {"m", "s.unlabel", "-j", "4", "-o", "out"}, 0, "", "out"},
      {PUNB_BINARY, {"-nb", "-f", "s", "-j", "4"}, 0, "", "s.output"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args[1]);
    std::vector<std::string> args = c.args;
    const RunResult free = run_in_directory(dir.root(), c.program, args);
    ASSERT_EQ(free.status, 0) << free.err;
    const std::string expected = dir.read(c.file);
    fs::remove(dir.path(c.file));
    // Each thread's stack as large as the address space: no thread starts.
    args.insert(args.begin(), {"-c", "ulimit -s 274877906944 && exec \"$0\" \"$@\"", c.program});
    const RunResult r = run_in_directory(dir.root(), "/bin/sh", args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    if (c.status == 0) {
      EXPECT_EQ(r.out, free.out);
      EXPECT_EQ(dir.read(c.file), expected);
    } else {
      EXPECT_EQ(count_lines(r.err), 1u) << r.err;
      EXPECT_FALSE(dir.exists(c.file));
    }
  }
  // Counts past the cap are taken, and capped.
  EXPECT_EQ(run_classify(dir, {"m", "s.unlabel", "-j", "2147483647"}).out,
            run_classify(dir, {"m", "s.unlabel", "-j", "1"}).out);
}

// Text as punb-vectorize would number it with the model's vocabulary: punb-classify --text gives
// the bytes of punb-vectorize --vocab followed by punb-classify --ids, folded or not.
TEST(Classify, ReadsTextAsTheVectorizerWithTheModelsVocabulary) {
  TempDir dir;
  fs::create_directories(dir.path("new/inner"));
  fs::create_directories(dir.path("train"));
  dir.write("new/a.txt", "Straße und GARTEN: die Rosen blühen, the roses grow. Ｇａｒｄｅｎ\n");
  dir.write("new/inner/b.txt", "Тюльпаны и розы в саду; 花园里的玫瑰. Roses, roses!\n");
  dir.write("new/c.txt", "nothing known here\n");
  dir.write("lines.txt", "Rosen im Garten\nThe GARDEN of roses\n\ngarden garden tulips\n");
  dir.write("train/p1", "Garten Rosen Tulpen roses garden tulips Straße");
  dir.write("train/p2", "Rosen blühen im Garten, roses GARDEN");
  dir.write("train/u1", "Тюльпаны розы сад 花园 玫瑰 traffic news");
  dir.write("train/u2", "news of the day, traffic and weather");
  dir.write("train/u3", "the garden news: roses");
  for (const std::vector<std::string>& fold :
       {std::vector<std::string>{}, std::vector<std::string>{"--no-fold", "--min-length", "3"}}) {
    SCOPED_TRACE(fold.empty() ? "folded" : "as written");
    std::vector<std::string> args = {"-o",        "s",        "--pos",    "train/p1", "train/p2",
                                     "--unlabel", "train/u1", "train/u2", "train/u3"};
    args.insert(args.end(), fold.begin(), fold.end());
    ASSERT_EQ(run_vectorize(dir, args).status, 0);
    dir.write("s.test", "1 1:1\n");
    ASSERT_EQ(run_punb(dir, {"-kov", "-f", "s", "-s", "0.5", "--model", "m"}).status, 0);

    std::vector<std::string> again = {"-o",        "again", "--vocab",  "s.vocab",
                                      "--unlabel", "new",   "lines.txt"};
    again.insert(again.end(), fold.begin(), fold.end());
    ASSERT_EQ(run_vectorize(dir, again).status, 0);
    for (const std::vector<std::string>& order :
         {std::vector<std::string>{}, std::vector<std::string>{"--rank"},
          std::vector<std::string>{"--explain", "3"},
          std::vector<std::string>{"--top", "4", "--explain", "2"}}) {
      std::vector<std::string> text = {"m", "--text", "new", "lines.txt", "-j", "2"};
      std::vector<std::string> ids = {"m", "--ids", "again.unlabel.ids", "again.unlabel"};
      text.insert(text.end(), order.begin(), order.end());
      ids.insert(ids.end(), order.begin(), order.end());
      const RunResult from_text = run_classify(dir, text);
      ASSERT_EQ(from_text.status, 0) << from_text.err;
      EXPECT_EQ(from_text.out, run_classify(dir, ids).out);
      EXPECT_EQ(lines_of(from_text.out).size(), !order.empty() && order[0] == "--top" ? 4u : 7u);
    }
  }
  // The way of reading is the model's, whatever the vectorizer did after; a vocabulary without
  // its options file is taken as folded, the vectorizer's default.
  EXPECT_NE(run_classify(dir, {"m", "--info"}).out.find("not folded, min-length 3"),
            std::string::npos);
  fs::remove(dir.path("s.vocab.options"));
  ASSERT_EQ(run_punb(dir, {"-kov", "-f", "s", "-s", "0.5", "--model", "m"}).status, 0);
  EXPECT_NE(run_classify(dir, {"m", "--info"}).out.find(", folded, min-length 1"),
            std::string::npos);
}

// A model file written by a punb run, edited by `change`, and given a correct checksum again
// unless the edit is about the checksum itself.
std::string fnv1a64_line(const std::string& text) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  char line[64];
  std::snprintf(line, sizeof line, "checksum fnv1a64 %016llx\n",
                static_cast<unsigned long long>(h));
  return line;
}
std::string without_checksum(const std::string& model) {
  return model.substr(0, model.rfind("checksum fnv1a64 "));
}
using Edit = std::function<std::string(std::string)>;
Edit resealed(std::function<std::string(std::string)> change) {
  return [=](std::string model) {
    const std::string body = change(without_checksum(model));
    return body + fnv1a64_line(body);
  };
}
// Replaces the first occurrence of `from` with `to`.
Edit replaced(std::string from, std::string to) {
  return resealed([=](std::string body) {
    const std::size_t at = body.find(from);
    return at == std::string::npos ? "<" + from + " not found>" : body.replace(at, from.size(), to);
  });
}
// The line that begins with `prefix` becomes `line` (empty: is removed).
Edit line_replaced(std::string prefix, std::string line) {
  return resealed([=](std::string body) {
    const std::size_t at = body.find("\n" + prefix) + 1;
    const std::size_t end = body.find('\n', at) + 1;
    return body.replace(at, end - at, line.empty() ? "" : line + "\n");
  });
}

struct BadCase {
  const char* name;
  Edit edit;  // of the good model "m"; none: the good model
  std::vector<std::string> args;
  int status;
  std::string message;  // on standard error
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

std::vector<BadCase> bad_cases() {
  const std::vector<std::string> run = {"m", "c.test", "--labeled", "-o", "out"};
  auto with = [](std::vector<std::string> a, std::vector<std::string> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  return {
      {"not_a_model", [](std::string) { return std::string("1 3:4\n"); }, run, 1,
       "m:1: not a punb model file"},
      {"empty", [](std::string) { return std::string(); }, run, 1, "m:1: the file is empty"},
      {"newer_format", replaced("punb-model 1", "punb-model 2"), run, 1,
       "m:1: format version 2 is newer"},
      {"damaged",
       [](std::string m) {
         char& digit = m[m.find("\n2 0.") + 6];
         digit = digit == '7' ? '8' : '7';
         return m;
       },
       run, 1, "the checksum does not match"},
      {"truncated", [](std::string m) { return m.substr(0, m.size() / 2); }, run, 1,
       "the last line is not the checksum"},
      {"missing_field", line_replaced("prior-positive ", ""), run, 1,
       "field 'prior-positive' is missing"},
      {"repeated_field", replaced("mode naive-bayes\n", "mode naive-bayes\nmode naive-bayes\n"),
       run, 1, "m:4: field 'mode' is repeated"},
      {"field_without_value", replaced("mode naive-bayes\n", "mode naive-bayes\nlonely\n"), run, 1,
       "m:4: expected 'field value'"},
      {"unknown_field", replaced("mode naive-bayes\n", "mode naive-bayes\ncolour blue\n"), run, 1,
       "m:4: unknown field 'colour'"},
      {"not_a_number", line_replaced("smoothing-weight ", "smoothing-weight 0.1x"), run, 1,
       "smoothing-weight '0.1x' is not a number"},
      {"not_finite", line_replaced("prior-negative ", "prior-negative inf"), run, 1,
       "prior-negative is not finite"},
      {"probability_zero", line_replaced("1 ", "1 0 0.5"), run, 1,
       "negative word probability 0 is not in (0, 1]"},
      {"probability_above_one", line_replaced("prior-positive ", "prior-positive 1.5"), run, 1,
       "prior-positive 1.5 is not in (0, 1]"},
      {"index_out_of_range", replaced("\n4 ", "\n500000 "), run, 1, "index 500000 is outside"},
      {"index_repeated", replaced("\n2 ", "\n1 "), run, 1, "index 1 is repeated or out of order"},
      {"count_disagrees", line_replaced("vocabulary-size ", "vocabulary-size 3"), run, 1,
       "does not match the field vocabulary-size"},
      {"wrong_classifier", line_replaced("classifier ", "classifier Iteration 2"), run, 1,
       "classifier 'Iteration 2' is not 'naive Bayes model'"},
      {"line_after_the_words", replaced("text-vocabulary none\n", "text-vocabulary none\nmore\n"),
       run, 1, "unexpected line before the checksum"},
      {"missing_model", [](std::string) { return std::string("<remove>"); }, run, 1,
       "m: No such file"},
      {"text_without_words",
       {},
       {"m", "--text", "c.test", "-o", "out"},
       1,
       "m: the model holds no words"},
      // Bad documents and outputs.
      {"index_too_large", {}, {"m", "docs", "-o", "out"}, 1, "docs:2: feature index 500000"},
      {"bad_label",
       {},
       {"m", "--labeled", "docs", "-o", "out"},
       1,
       "docs:2: label 3 is neither 1 nor -1"},
      {"missing_documents", {}, {"m", "gone", "-o", "out"}, 1, "gone: No such file"},
      {"output_in_a_missing_folder",
       {},
       with(run, {"-o", "nowhere/out"}),
       1,
       "nowhere/out: No such file or directory"},
      {"output_is_a_folder", {}, {"m", "c.test", "-o", "."}, 1, ".: Is a directory"},
      {"output_on_a_full_disk",
       {},
       {"m", "c.test", "-o", "/dev/full"},
       1,
       "/dev/full: No space left on device"},
      // Usage errors.
      {"no_documents", {}, {"m"}, 2, "no FILE given"},
      {"text_with_labels",
       {},
       {"m", "--text", "--labeled", "c.test"},
       2,
       "--labeled reads punb's test lines"},
      {"text_with_ids", {}, {"m", "--text", "--ids", "x", "c.test"}, 2, "no --ids"},
      {"top_zero", {}, {"m", "--top", "0", "c.test"}, 2, "--top takes a whole number from 1"},
      {"min_above_one", {}, {"m", "--min", "1.5", "c.test"}, 2, "--min takes a number from 0 to 1"},
      {"unknown_option", {}, {"m", "--colour", "c.test"}, 2, "unknown option '--colour'"},
      {"info_with_documents", {}, {"m", "--info", "c.test"}, 2, "--info takes no FILE"},
      {"min_not_a_number", {}, {"m", "--min", "nan", "c.test"}, 2, "--min takes a number"},
      {"threads_beyond_32_bits",
       {},
       {"m", "-j", "2147483648", "c.test"},
       2,
       "-j takes a whole number from 0 to 2147483647"},
      {"words_zero", {}, {"m", "--words", "0"}, 2, "--words takes a whole number from 1"},
      {"words_with_documents", {}, {"m", "--words", "3", "c.test"}, 2, "--words takes no FILE"},
      {"words_with_info", {}, {"m", "--words", "3", "--info"}, 2, "runs of their own"},
      {"explain_zero", {}, {"m", "--explain", "0", "c.test"}, 2, "--explain takes a whole number"},
      {"explain_without_value", {}, {"m", "c.test", "--explain"}, 2, "--explain needs a value"},
      {"words_in_a_missing_folder",
       {},
       {"m", "--words", "3", "-o", "nowhere/out"},
       1,
       "nowhere/out: No such file or directory"},
  };
}

class BadRun : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadRun, FailsWithItsMessageAndNoOutputFile) {
  const BadCase& c = GetParam();
  TempDir dir;
  small_model(dir);
  dir.write("docs", "1:1\n3:1 500000:2\n");
  if (c.edit) {
    const std::string edited = c.edit(dir.read("m"));
    if (edited == "<remove>")
      fs::remove(dir.path("m"));
    else
      dir.write("m", edited);
  }
  const RunResult r = run_classify(dir, c.args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(dir.exists("out"));
  for (const auto& e : fs::directory_iterator(dir.root()))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

INSTANTIATE_TEST_SUITE_P(Table, BadRun, ::testing::ValuesIn(bad_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A positive-unlabeled model written out whole, with the counts it declares: of EM iterations,
// of its sequence, of its words and of its words of text. Each section holds entries 0 and 1,
// one word and one word of text.
std::string declared_model(const std::string& iterations, const std::string& sequence,
                           const std::string& words, const std::string& text) {
  const std::string body =
      "punb-model 1\npunb-version 1.0\nmode positive-unlabeled\nsmoothing-weight 0.1\n"
      "spy-fraction 0.15\nthreshold-rate 0.1\niterations " +
      iterations +
      "\nclassifier Naivebayes Result\nselected 0\npositive-documents 10\n"
      "unlabeled-documents 20\nspies 1\nreliable-negatives 5\nspy-threshold 0.5\n"
      "prior-negative 0.5\nprior-positive 0.5\nvocabulary-size " +
      words + "\nlowest-index 1\nlargest-index 1\nsequence " + sequence +
      "\n0 0.5 0.1\n1 0.5 0.1\nwords " + words + "\n1 0.25 0.75\ntext-vocabulary " + text +
      " fold yes min-length 1\n1\tword\n";
  return body + fnv1a64_line(body);
}

// A count that the file does not hold is refused before anything is sized by it: a file of a
// few hundred bytes costs no more memory than a good one, whatever it declares.
TEST(Classify, RefusesCountsTheModelFileDoesNotHold) {
  struct Case {
    const char* name;
    std::string model;
    const char* message;
  };
  const Case cases[] = {
      {"sequence_past_2_pow_31", declared_model("2147483647", "2147483648", "1", "1"),
       "m:20: sequence 2147483648 is more entries than the 6 lines that follow"},
      {"sequence_that_fits_in_memory", declared_model("99999999", "100000000", "1", "1"),
       "m:20: sequence 100000000 is more entries"},
      {"words", declared_model("1", "2", "500000", "1"),
       "m:23: words 500000 is more entries than the 3 lines that follow"},
      {"words_one_too_many", declared_model("1", "2", "4", "1"),
       "m:23: words 4 is more entries than the 3 lines that follow"},
      {"text_vocabulary", declared_model("1", "2", "1", "499999"),
       "m:25: text-vocabulary 499999 is more entries than the 1 lines that follow"},
  };
  TempDir dir;
  dir.write("m", declared_model("1", "2", "1", "1"));
  long good_kb = 0;
  const RunResult good = run_measured(dir.root(), CLASSIFY_BINARY, {"m", "--info"}, good_kb);
  ASSERT_EQ(good.status, 0) << good.err;
  EXPECT_NE(good.out.find("words               1, folded"), std::string::npos) << good.out;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.write("m", c.model);
    long peak_kb = 0;
    const RunResult r = run_measured(dir.root(), CLASSIFY_BINARY, {"m", "--info"}, peak_kb);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("punb-classify: " + std::string(c.message), 0), 0u) << r.err;
    EXPECT_EQ(count_lines(r.err), 1u) << r.err;
    EXPECT_LT(peak_kb, good_kb + 4096);
  }
}

TEST(Classify, InfoDescribesTheModel) {
  TempDir dir;
  small_model(dir);
  const RunResult info = run_classify(dir, {"m", "--info"});
  EXPECT_EQ(info.status, 0);
  for (const char* part :
       {"\nmode                naive Bayes (-nb)\n", "-l 0.1 ", "2 positive, 3 unlabeled",
        "\nvocabulary          4 indices, 1 to 4\n", "none: the model cannot read text"}) {
    EXPECT_NE(info.out.find(part), std::string::npos) << part << "\n" << info.out;
  }
}

}  // namespace
}  // namespace punb::test
