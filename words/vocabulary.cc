#include "words/vocabulary.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <string_view>

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "words/textfile.h"
#include "words/utf8.h"
#include "words/wordtable.h"

namespace punb::words {

namespace {

constexpr const char* kBadVocabulary = "vocabulary file does not parse";

bool read_number(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Splits a line at tabs into exactly `n` fields.
bool split_fields(std::string_view line, std::string_view* fields, int n) {
  for (int i = 0; i < n - 1; ++i) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  fields[n - 1] = line;
  return line.find('\t') == std::string_view::npos;
}

}  // namespace

Vocabulary select_vocabulary(WordCounts words, std::uint64_t training_documents,
                             const VocabularyLimits& limits, VocabularyCuts& cuts,
                             std::vector<std::uint32_t>* index_of) {
  cuts = {};
  cuts.seen = words.size();
  const double most = limits.max_share * static_cast<double>(training_documents);
  // Most frequent first, ties in byte order of the words. Sorted as small keys that hold the
  // words' first eight bytes, so that most comparisons read no word and no string moves.
  struct Key {
    std::uint64_t documents;
    std::uint64_t prefix;  // the first eight bytes, big-endian, zeros past the end
    std::size_t at;
  };
  std::vector<Key, HugePageAllocator<Key>> keys;
  keys.reserve(words.size());
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i].documents < limits.min_documents) {
      ++cuts.too_rare;
      continue;
    }
    if (static_cast<double>(words[i].documents) > most) {
      ++cuts.too_common;
      continue;
    }
    std::uint64_t prefix = 0;
    const std::string& w = words[i].word;
    for (std::size_t b = 0; b < 8; ++b) {
      prefix = prefix << 8 | (b < w.size() ? static_cast<unsigned char>(w[b]) : 0u);
    }
    keys.push_back({words[i].documents, prefix, i});
  }
  std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    if (a.documents != b.documents) return a.documents > b.documents;
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return words[a.at].word < words[b.at].word;
  });
  const std::size_t cap = std::min<std::size_t>(limits.max_words, kMaxIndex);
  if (keys.size() > cap) {
    cuts.over_cap = keys.size() - cap;
    keys.resize(cap);
  }
  if (index_of) index_of->assign(words.size(), 0);
  Vocabulary vocabulary;
  vocabulary.reserve(keys.size());
  for (const Key& k : keys) {
    WordCount& w = words[k.at];
    if (index_of) (*index_of)[k.at] = static_cast<std::uint32_t>(vocabulary.size() + 1);
    vocabulary.push_back({static_cast<std::uint32_t>(vocabulary.size() + 1), w.documents,
                          w.occurrences, std::move(w.word)});
  }
  return vocabulary;
}

void write_vocabulary(const Vocabulary& vocabulary, OutFile& out) {
  std::string line;
  for (const VocabularyEntry& e : vocabulary) {
    line = std::to_string(e.index);
    line += '\t';
    line += std::to_string(e.documents);
    line += '\t';
    line += std::to_string(e.occurrences);
    line += '\t';
    line += e.word;
    line += '\n';
    out.write(line);
  }
}

Vocabulary read_vocabulary(const std::string& path) {
  const std::string text = read_whole_file(path, kBadVocabulary);

  Vocabulary vocabulary;
  WordTable<char> words;
  std::vector<bool> index_taken(kMaxIndex + 1);
  for_each_line(text, [&](std::string_view line, std::size_t line_number) {
    auto fail = [&](const std::string& what) -> Fatal {
      return Fatal(kBadVocabulary, path + ":" + std::to_string(line_number) + ": " + what);
    };
    std::string_view f[4];
    if (!split_fields(line, f, 4))
      throw fail("expected index, document frequency, count and word, separated by tabs");
    VocabularyEntry e;
    std::uint64_t index = 0;
    if (!read_number(f[0], index) || index < 1 || index > kMaxIndex)
      throw fail("index '" + std::string(f[0]) + "' is not a number from 1 to 499999");
    if (!read_number(f[1], e.documents) || !read_number(f[2], e.occurrences))
      throw fail("document frequency and count must be numbers");
    if (f[3].empty()) throw fail("empty word");
    if (!well_formed_utf8(f[3])) throw fail("word is not valid UTF-8");
    if (index_taken[index]) throw fail("index " + std::to_string(index) + " appears twice");
    char& seen = words[f[3]];
    if (seen) throw fail("word '" + std::string(f[3]) + "' appears twice");
    seen = 1;
    index_taken[index] = true;
    e.index = static_cast<std::uint32_t>(index);
    e.word = f[3];
    vocabulary.push_back(std::move(e));
  });
  if (vocabulary.empty()) throw Fatal(kBadVocabulary, path + ": no words");
  std::sort(vocabulary.begin(), vocabulary.end(),
            [](const VocabularyEntry& a, const VocabularyEntry& b) { return a.index < b.index; });
  return vocabulary;
}

void write_word_reading(const WordReading& reading, OutFile& out) {
  out.write(std::string("fold ") + (reading.fold ? "yes" : "no") + "\nmin-length " +
            std::to_string(reading.min_length) + "\n");
}

std::optional<WordReading> read_word_reading(const std::string& path) {
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored)) return std::nullopt;
  const std::string text = read_whole_file(path, kBadVocabulary);
  WordReading reading;
  bool seen[2] = {false, false};
  for_each_line(text, [&](std::string_view line, std::size_t line_number) {
    auto fail = [&](const std::string& what) -> Fatal {
      return Fatal(kBadVocabulary, path + ":" + std::to_string(line_number) + ": " + what);
    };
    std::uint64_t n = 0;
    if (line == "fold yes" || line == "fold no") {
      reading.fold = line == "fold yes";
      if (std::exchange(seen[0], true)) throw fail("fold is given twice");
    } else if (line.starts_with("min-length ") && read_number(line.substr(11), n) && n >= 1) {
      reading.min_length = n;
      if (std::exchange(seen[1], true)) throw fail("min-length is given twice");
    } else {
      throw fail("expected 'fold yes', 'fold no' or 'min-length N' (N from 1)");
    }
  });
  if (!seen[0] || !seen[1]) throw Fatal(kBadVocabulary, path + ": fold or min-length is missing");
  return reading;
}

}  // namespace punb::words
