#pragma once

#include <optional>
#include <string>

#include "nb/modelfile.h"

namespace punb {

// The words of STEM.vocab, when punb-vectorize left one beside the inputs, with the way its text
// was read (STEM.vocab.options); a file that does not parse ends the run. `warn`: say on standard
// error when the options file is missing.
std::optional<TextVocabulary> text_vocabulary_beside(const std::string& stem, bool warn = true);

// Writes the model file, complete or not at all: an earlier file of that name stays as it was
// when the write fails.
void write_model(const std::string& path, const SavedModel& model);

}  // namespace punb
