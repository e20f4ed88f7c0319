#pragma once

#include <ostream>
#include <string>

#include "classify/options.h"
#include "nb/modelfile.h"
#include "peers/peers.h"

namespace punb::classify {

// Scores the documents of the command line with the model and writes their lines; warnings go to
// `log`. A failure throws Fatal. On several processes each scores its share of the documents, and
// the lines and files are those of one process.
void run(const Options& options, std::ostream& log, Peers& peers);

// What --info prints: the model file's header.
std::string describe_model(const SavedModel& model, const std::string& path);

}  // namespace punb::classify
