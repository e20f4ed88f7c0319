#include "words/words.h"

#include <gtest/gtest.h>
#include <unicode/utf8.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "words/utf8.h"

namespace punb::words {
namespace {

struct Collect final : WordSink {
  std::vector<std::string> words;
  void word(std::string_view w) override { words.emplace_back(w); }
};

std::vector<std::string> words_of(std::string_view text, bool fold = true, bool fast = true) {
  WordSplitter splitter(fold, fast);
  Collect c;
  splitter.split(text, c);
  return c.words;
}

using Words = std::vector<std::string>;

struct Case {
  const char* text;
  Words folded;
};

TEST(WordSplitter, SegmentsAndFoldsLikeTheLanguageExpects) {
  const Case cases[] = {
      {"Don't STOP, can't stop!", {"don't", "stop", "can't", "stop"}},
      {"don\u2019t", {"don\u2019t"}},
      {"Stra\u00dfe STRASSE stra\u00dfe", {"strasse", "strasse", "strasse"}},
      {"\u0395\u039b\u039b\u0397\u039d\u0399\u039a\u0386 "
       "\u03b5\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
       {"\u03b5\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
        "\u03b5\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac"}},
      {"\u041f\u0440\u0438\u0432\u0435\u0442, \u041c\u0418\u0420.",
       {"\u043f\u0440\u0438\u0432\u0435\u0442", "\u043c\u0438\u0440"}},
      {"\u4f60\u597d\u4e16\u754c", {"\u4f60\u597d", "\u4e16\u754c"}},
      {"\u3053\u3093\u306b\u3061\u306f\u4e16\u754c",
       {"\u3053\u3093\u306b\u3061\u306f", "\u4e16\u754c"}},
      {"\uff21\uff22\uff23 \ufb01ne caf\u00e9 CAFE\u0301",
       {"abc", "fine", "caf\u00e9", "caf\u00e9"}},
      {"pi is 3.14, 1,000,000 or 1;2 e.g. a.1 a:b",
       {"pi", "is", "3.14", "1,000,000", "or", "1;2", "e.g", "a", "1", "a", "b"}},
      {"_ __ a_b _1 x__ -- ...", {"__", "a_b", "_1", "x__"}},
      {"mail me@example.org @home", {"mail", "me@example.org", "@home"}},
      {"tab\tseparated\r\nlines\x0bvt", {"tab", "separated", "lines", "vt"}},
  };
  for (const Case& c : cases) EXPECT_EQ(words_of(c.text), c.folded) << c.text;
}

TEST(WordSplitter, WordsEndWhereTheTextEnds) {
  const std::string buffer = "one 1.5x.y 2";  // a document followed by more text
  const std::string_view text(buffer);
  EXPECT_EQ(words_of(text.substr(0, 6)), (Words{"one", "1"}));
  EXPECT_EQ(words_of(text.substr(0, 9)), (Words{"one", "1.5x"}));
  EXPECT_EQ(words_of(text.substr(0, 10)), (Words{"one", "1.5x.y"}));
}

TEST(WordSplitter, NoFoldKeepsTheWordsAsWritten) {
  EXPECT_EQ(words_of("Stra\u00dfe \uff21BC Don't", false),
            (Words{"Stra\u00dfe", "\uff21BC", "Don't"}));
}

struct InvalidCase {
  const char* text;
  Words words;
  std::uint64_t replaced;
};

TEST(WordSplitter, IllFormedSequencesSeparateWordsAndAreCounted) {
  const InvalidCase cases[] = {
      {"ab\xff"
       "cd",
       {"ab", "cd"},
       1},
      {"caf\xc3 bar", {"caf", "bar"}, 1},  // truncated sequence
      {"x\xc0\xafy", {"x", "y"}, 2},       // overlong '/'
      {"x\xed\xa0\x80y", {"x", "y"}, 3},   // an encoded surrogate
      {"\xe4\xbd\xa0\xe5\xa5 ok \xff\xfe", {"\u4f60", "ok"}, 3},
      {"x\xef\xbf\xbdy", {"x", "y"}, 0},  // a real U+FFFD is no fault
  };
  for (const InvalidCase& c : cases) {
    for (bool fast : {true, false}) {
      WordSplitter splitter(true, fast);
      Collect collect;
      splitter.split(c.text, collect);
      EXPECT_EQ(collect.words, c.words) << c.text;
      EXPECT_EQ(splitter.take_replaced(), c.replaced) << c.text;
      EXPECT_EQ(splitter.take_replaced(), 0u);
    }
  }
}

// The ASCII shortcut must give exactly ICU's words, on made-up text that mixes what matters at
// its edges (white space, marks after it, joiners, non-ASCII letters, ill-formed bytes).
TEST(WordSplitter, AsciiShortcutYieldsIcuWordsOnGeneratedText) {
  std::vector<std::string> atoms = {"ab", "Zz", "09", "  ", "\r\n", "\u00e9", "\u0301", "\u4f60",
                                    "\xff", "\u2019", "\u05d0", "\u30ab", "\u200d", "\u00ad",
                                    "\u202f", "\U0001F600", "\u0e01\u0e32", "\u00a0", "\u3000",
                                    "\u0085",
                                    // runs of small letters longer and shorter than 16 bytes
                                    "abcdefghijklmnopqrs", "xyzzyxyzzyxyzzy"};
  for (int c = 1; c < 0x80; ++c) atoms.emplace_back(1, static_cast<char>(c));  // every ASCII byte
  std::mt19937 rng(7);
  WordSplitter fast(true, true);
  WordSplitter icu(true, false);
  for (int round = 0; round < 40000; ++round) {
    std::string text;
    const int n = static_cast<int>(rng() % 24);
    for (int i = 0; i < n; ++i) text += atoms[rng() % atoms.size()];
    Collect a, b;
    fast.split(text, a);
    icu.split(text, b);
    ASSERT_EQ(a.words, b.words) << text;
    ASSERT_EQ(fast.take_replaced(), icu.take_replaced()) << text;
  }
}

TEST(WordSplitter, AsciiShortcutYieldsIcuWordsOnTheExampleCorpus) {
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(EXAMPLE_TEXT_DIR)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    for (bool fold : {true, false}) {
      const Words fast = words_of(text.str(), fold, true);
      ASSERT_FALSE(fast.empty()) << entry.path();
      ASSERT_EQ(fast, words_of(text.str(), fold, false)) << entry.path();
    }
    ++files;
  }
  EXPECT_GT(files, 500u);
}

TEST(WordSplitter, FoldsAWordAsItFoldsText) {
  WordSplitter splitter(true);
  EXPECT_EQ(splitter.fold("STRA\u00dfE"), "strasse");
  EXPECT_EQ(splitter.fold("The"), "the");
  // One code point that folds to eighteen: the folded word outgrows a first guess at its size.
  const std::string one(splitter.fold("\ufdfa"));
  EXPECT_GT(code_points(one), 10u);
  EXPECT_EQ(splitter.fold("\ufdfa\ufdfa\ufdfa\ufdfa"), one + one + one + one);
  EXPECT_EQ(code_points("stra\u00dfe\u4f60"), 7u);
}

// The validator agrees with ICU's decoder on every sequence of one to three bytes and on four-byte
// ones around every lead (both refuse overlong forms, surrogates and anything past U+10FFFF).
TEST(Utf8, AgreesWithIcuOnEveryShortSequence) {
  auto icu_accepts = [](const std::string& s) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(s.data());
    const auto n = static_cast<std::int32_t>(s.size());
    for (std::int32_t i = 0; i < n;) {
      UChar32 c;
      U8_NEXT(b, i, n, c);
      if (c < 0) return false;
    }
    return true;
  };
  std::string s;
  std::size_t disagreements = 0;
  auto check = [&] { disagreements += well_formed_utf8(s) != icu_accepts(s); };
  for (unsigned a = 0; a < 256; ++a) {
    s.assign(1, static_cast<char>(a));
    check();
    for (unsigned b = 0; b < 256; ++b) {
      s.assign({static_cast<char>(a), static_cast<char>(b)});
      check();
      for (unsigned c = 0; c < 256; ++c) {
        s.assign({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
        check();
        if (a >= 0xF0 && (c == 0x80 || c == 0xBF || c == 0x41)) {
          for (unsigned d : {0x41u, 0x80u, 0xBFu, 0xC0u}) {
            s.push_back(static_cast<char>(d));
            check();
            s.pop_back();
          }
        }
      }
    }
  }
  EXPECT_EQ(disagreements, 0u);
  EXPECT_TRUE(well_formed_utf8("caf\u00e9 \U0001F600"));
}

}  // namespace
}  // namespace punb::words
