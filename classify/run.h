#pragma once

#include <ostream>
#include <string>

#include "classify/options.h"
#include "nb/modelfile.h"

namespace punb::classify {

// Scores the documents of the command line with the model and writes their lines; warnings go to
// `log`. A failure throws Fatal.
void run(const Options& options, std::ostream& log);

// What --info prints: the model file's header.
std::string describe_model(const SavedModel& model, const std::string& path);

}  // namespace punb::classify
