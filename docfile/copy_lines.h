#pragma once

#include <cstdint>
#include <string>

#include "docfile/outfile.h"
#include "docfile/reader.h"

namespace punb {

// Copies the first `lines` lines of `in` byte for byte; `choose(i)` names the file that takes
// line i. The counts come from an earlier read of the same file, so a shorter file means it
// was changed during the run.
template <class Choose>
void copy_document_lines(DocumentReader& in, std::int64_t lines, Choose&& choose) {
  Line line;
  for (std::int64_t i = 0; i < lines; ++i) {
    if (!in.next(line)) {
      in.fail_at_line("the file changed during the run: it held " + std::to_string(lines) +
                      " lines when first read");
    }
    choose(i).write({line.data, line.size});
  }
}

}  // namespace punb
