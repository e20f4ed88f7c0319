#pragma once

// Inputs shared by the tests of punb-classify's run on several processes.

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "test_support.h"

namespace punb::test {

// Lines of words drawn mostly from the first or the last of a few topics' words.
inline std::string text_lines(std::mt19937& random, int lines, double first_topic) {
  static const char* const kWords[] = {"rose", "garden",  "tulip",  "bloom",   "seed",
                                       "soil", "news",    "market", "train",   "vote",
                                       "city", "traffic", "Straße", "Тюльпан", "花园"};
  std::uniform_real_distribution<double> unit(0, 1);
  std::string text;
  for (int l = 0; l < lines; ++l) {
    const int n = static_cast<int>(random() % 25);
    for (int w = 0; w < n; ++w) {
      const std::size_t base = unit(random) < first_topic ? 0 : 6;
      text += std::string(w ? " " : "") + kWords[base + random() % 9];
    }
    text += "\n";
  }
  return text;
}

// What the runs of punb-classify on one and on several processes read, in `dir`: a corpus (c.*),
// its model (m) and sources (all.ids, cut into a.ids, b.ids, the empty e.ids and c.ids; short.ids
// and long.ids with too few and too many lines), its documents thrice over (ties), copies with a
// bad line near the start and near the end (bad.first, bad.last, bad.test); a model that reads
// text (t), a folder of text (new) and a file of a text a line (lines.txt). Returns whether all
// was made.
inline bool make_classify_inputs(const TempDir& dir) {
  test::generate_corpus(dir, "c",
                        "--pos 150 --unlabel 700 --test 150 --vocab 3000 --words 25 "
                        "--overlap 0.9 --odd 0.2 --seed 1");
  if (test::run_punb(dir, {"-kov", "-f", "c", "--model", "m"}).status != 0) return false;
  const std::string unlabeled = dir.read("c.unlabel");
  // Each document three times over: ties that --top cuts through.
  std::string ties, ids[4];
  for (std::size_t at = 0, n = 0; at < unlabeled.size(); ++n) {
    const std::size_t end = std::min(unlabeled.find('\n', at), unlabeled.size() - 1) + 1;
    const std::string line = unlabeled.substr(at, end - at);
    if (n < 120) ties += line + line + line;
    ids[n < 345 ? 0 : n == 345 ? 1 : 3] += "page " + std::to_string(n) + " of the crawl\n";
    at = end;
  }
  dir.write("ties", ties);
  dir.write("a.ids", ids[0]);
  dir.write("b.ids", ids[1]);
  dir.write("e.ids", "");
  dir.write("c.ids", ids[3]);
  dir.write("all.ids", ids[0] + ids[1] + ids[3]);
  dir.write("short.ids", ids[0]);
  dir.write("long.ids", ids[0] + ids[1] + ids[3] + "one more\n");
  // Bad lines where the first process reads and where the last one does.
  auto with_bad = [&](const std::string& from, const std::string& to, int line,
                      const std::string& bad) {
    std::string t = dir.read(from);
    std::size_t at = 0;
    for (int k = 0; k < line; ++k) at = t.find('\n', at) + 1;
    dir.write(to, t.replace(at, t.find('\n', at) - at, bad));
  };
  with_bad("c.unlabel", "bad.first", 1, "3:1 600000:1");
  with_bad("c.unlabel", "bad.last", 698, "4:-2");
  with_bad("c.test", "bad.test", 148, "0 3:1");

  std::mt19937 random(7);
  dir.write("p.txt", text_lines(random, 60, 0.85));
  dir.write("u.txt", text_lines(random, 200, 0.4));
  if (test::run_in_directory(dir.root(), VECTORIZE_BINARY,
                             {"-o", "s", "--pos", "p.txt", "--unlabel", "u.txt"})
          .status != 0)
    return false;
  dir.write("s.test", "1 1:1\n");
  if (test::run_punb(dir, {"-kov", "-f", "s", "--model", "t"}).status != 0) return false;
  std::filesystem::create_directories(dir.path("new/inner"));
  for (int i = 0; i < 30; ++i)
    dir.write("new/d" + std::to_string(10 + i) + ".txt", text_lines(random, 1 + i % 3, 0.5));
  dir.write("new/empty.txt", "");
  dir.write("new/inner/binary", std::string("rose\0garden", 11));
  dir.write("new/inner/latin1.txt", "rose \xff\xfe garden\n");
  dir.write("lines.txt", text_lines(random, 400, 0.5) + "tulip \xc3 soil\n\nlast without end");
  return true;
}

}  // namespace punb::test
