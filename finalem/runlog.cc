#include "finalem/runlog.h"

#include <algorithm>
#include <string>

#include "docfile/fatal.h"
#include "docfile/reader.h"

namespace punb {

namespace {

constexpr std::size_t kSeparatorWidth = 52;

bool is_separator(const Line& line) {
  return line.size >= kSeparatorWidth &&
         std::all_of(line.data, line.data + kSeparatorWidth, [](char c) { return c == '*'; });
}

bool is_empty(const Line& line) { return line.size > 0 && line.data[0] == '\n'; }

}  // namespace

std::string write_final_result(OutFile& log, const RunFiles& files, std::int64_t selected) {
  log.close();
  DocumentReader in(files.log, "can not write set");
  OutFile result(files.result, kCannotWriteResult);

  Line line{};
  bool more = true;
  if (selected > 0) {  // skip sections 0 .. selected - 1, each up to its closing empty line
    std::int64_t separators = 0;
    while (separators < selected && (more = in.next(line))) {
      if (is_separator(line)) ++separators;
    }
    while (more && (more = in.next(line)) && !is_empty(line)) {
    }
  }
  more = more && in.next(line);
  while (more && !is_separator(line)) {
    result.write({line.data, line.size});
    more = in.next(line);
  }
  result.close();

  more = more && in.next(line);  // the section's header line
  std::string block = "\n************<  The Final Result > *************\n";
  while (more && !is_empty(line)) {
    block.append(line.data, line.size);
    more = in.next(line);
  }
  return block;
}

}  // namespace punb
