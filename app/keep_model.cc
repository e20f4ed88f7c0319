#include "app/keep_model.h"

#include <filesystem>
#include <iostream>

#include "docfile/staged.h"
#include "words/vocabulary.h"

namespace punb {

std::optional<TextVocabulary> text_vocabulary_beside(const std::string& stem, bool warn) {
  const std::string path = stem + ".vocab";
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored)) return std::nullopt;
  TextVocabulary text;
  for (words::VocabularyEntry& e : words::read_vocabulary(path)) {
    text.indices.push_back(e.index);
    text.words.push_back(std::move(e.word));
  }
  if (const auto reading = words::read_word_reading(path + ".options")) {
    text.folded = reading->fold;
    text.min_length = reading->min_length;
  } else if (warn) {
    std::cerr << "punb: " << path << ": no " << path
              << ".options beside it: its words are taken as folded, punb-vectorize's default\n";
  }
  return text;
}

void write_model(const std::string& path, const SavedModel& model) {
  replace_file(path, format_model_file(model), kCannotWriteModel);
}

}  // namespace punb
