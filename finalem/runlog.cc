#include "finalem/runlog.h"

#include <stdexcept>

#include "docfile/fatal.h"

namespace punb {

std::string write_final_result(RunLog& log, const RunFiles& files, std::int64_t selected,
                               Peers& peers) {
  log.file.close();
  // Kept from the test passes rather than read back from the log, whatever the log is.
  const auto lines = log.lines.find(selected);
  if (lines == log.lines.end() || static_cast<std::size_t>(selected) >= log.blocks.size()) {
    throw std::logic_error("the selected classifier's lines were not kept");
  }
  SharedOutFile result(peers, files.result, kCannotWriteResult);
  result.write_at(result.take_room(static_cast<std::int64_t>(lines->second.size())), lines->second);
  result.close();
  // The block from its header line (after the separator) to its accuracy line.
  const std::string& block = log.blocks[static_cast<std::size_t>(selected)];
  const std::size_t header = block.find('\n') + 1;
  return "\n************<  The Final Result > *************\n" +
         block.substr(header, block.size() - 1 - header);
}

}  // namespace punb
