#pragma once

#include <vector>

#include "vectorize/batches.h"
#include "vectorize/sources.h"

namespace punb::classify {

// The part of the text inputs that process `rank` of `parts` reads. The inputs, taken end to end,
// are cut near equal shares of their bytes, each cut at the start of a document: of a file read
// whole, or of a line of a file read a line a document; a document belongs to the process whose
// part holds its first byte (an empty file's, where it would be). Every process finds the same
// cuts. A file that is not regular (a pipe) cannot be shared out: the run ends.
vectorize::InputShare share_of_inputs(const std::vector<vectorize::InputFile>& inputs, int rank,
                                      int parts);

}  // namespace punb::classify
