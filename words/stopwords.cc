#include "words/stopwords.h"

#include "docfile/fatal.h"
#include "words/textfile.h"
#include "words/utf8.h"

namespace punb::words {

namespace {

// Articles, pronouns, auxiliaries, prepositions, conjunctions and other function words, with
// the common contractions.
constexpr const char* kEnglish = R"(a about above after again against all am an and any are as at
be because been before being below between both but by can cannot could did do does doing
down during each few for from further had has have having he her here hers herself him himself
his how i if in into is it its itself just me more most my myself no nor not now of off on once
only or other ought our ours ourselves out over own same she should so some such than that the
their theirs them themselves then there these they this those through to too under until up
upon very was we were what when where which while who whom whose why will with would you your
yours yourself yourselves also although among amongst around however either neither may might
must shall since though unless whether within without yet us per via onto toward towards
across along beside besides beyond despite except inside outside throughout whereas
aren't can't couldn't didn't doesn't don't hadn't hasn't haven't he'd he'll he's i'd i'll i'm
i've isn't it's let's mustn't shan't she'd she'll she's shouldn't that's there's they'd
they'll they're they've wasn't we'd we'll we're we've weren't what's when's where's who's
why's won't wouldn't you'd you'll you're you've)";

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

WordSet load_stop_words(const std::string& source, WordSplitter& folder) {
  WordSet set;
  if (source == "english") {
    const std::string_view list(kEnglish);
    for (std::size_t i = 0; i < list.size();) {
      while (i < list.size() && blank(list[i])) ++i;
      std::size_t end = i;
      while (end < list.size() && !blank(list[end])) ++end;
      if (end > i) set[folder.fold(list.substr(i, end - i))] = 1;
      i = end;
    }
    return set;
  }
  const std::string text = read_whole_file(source, "can not read stop words");
  for_each_line(text, [&](std::string_view line, std::size_t number) {
    if (trimmed(line).empty() || trimmed(line).front() == '#') return;
    if (!well_formed_utf8(line)) {
      throw Fatal("can not read stop words",
                  source + ":" + std::to_string(number) + ": not valid UTF-8");
    }
    add_stop_word(set, line, folder);
  });
  return set;
}

void add_stop_word(WordSet& set, std::string_view word, WordSplitter& folder) {
  word = trimmed(word);
  if (word.empty()) return;
  const std::string_view folded = folder.fold(word);
  if (!folded.empty()) set[folded] = 1;
}

}  // namespace punb::words
