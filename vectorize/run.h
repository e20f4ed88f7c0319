#pragma once

#include <ostream>

#include "vectorize/options.h"

namespace punb::vectorize {

// Reads the documents, builds or reads the vocabulary and writes the files of the stem;
// warnings and the closing summary go to `log`. A failure throws Fatal.
void run(const Options& options, std::ostream& log);

}  // namespace punb::vectorize
