#pragma once

#include <cstdint>

#include "docfile/outfile.h"
#include "docfile/runfiles.h"

namespace punb {

// Closes the run log, reads it back and copies the probability lines of section `selected` to
// the result file, then prints that section's result block under the final banner.
void write_final_result(OutFile& log, const RunFiles& files, std::int64_t selected);

}  // namespace punb
