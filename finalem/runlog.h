#pragma once

#include <cstdint>
#include <string>

#include "docfile/runfiles.h"
#include "finalem/final_stage.h"
#include "peers/peers.h"

namespace punb {

// Closes the run log and writes the probability lines of section `selected`, as the log holds
// them, to the result file; returns the final report: the banner and that section's result block.
std::string write_final_result(RunLog& log, const RunFiles& files, std::int64_t selected,
                               Peers& peers);

}  // namespace punb
