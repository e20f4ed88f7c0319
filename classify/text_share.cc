#include "classify/text_share.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "docfile/fatal.h"
#include "docfile/fileio.h"

namespace punb::classify {

namespace {

constexpr const char* kUnreadable = "can not read input";  // as the text reader says it

// Where the part of process q starts among the inputs taken end to end (`starts` holds where each
// input starts, and the total last): the first document that starts at the q-th share of the
// bytes or after it.
std::uint64_t cut(const std::vector<vectorize::InputFile>& inputs,
                  const std::vector<std::uint64_t>& starts, int q, int parts) {
  if (q == 0) return 0;
  if (q == parts) return std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t total = starts.back();
  const auto at =
      static_cast<std::uint64_t>(static_cast<unsigned __int128>(total) * static_cast<unsigned>(q) /
                                 static_cast<unsigned>(parts));
  // The input that holds byte `at`.
  const auto after = std::upper_bound(starts.begin() + 1, starts.end(), at);
  if (after == starts.end()) return total;
  const auto j = static_cast<std::size_t>(after - (starts.begin() + 1));
  if (starts[j] == at) return at;
  if (inputs[j].whole_document) return starts[j + 1];
  try {
    InputFile file(inputs[j].path, kUnreadable);
    return starts[j] + static_cast<std::uint64_t>(
                           file.line_start_from(static_cast<std::int64_t>(at - starts[j])));
  } catch (const Fatal&) {
    return starts[j + 1];  // the process that reads it meets what is wrong with it
  }
}

}  // namespace

vectorize::InputShare share_of_inputs(const std::vector<vectorize::InputFile>& inputs, int rank,
                                      int parts) {
  std::vector<std::uint64_t> starts(1, 0);
  for (const vectorize::InputFile& input : inputs) {
    struct stat st;
    std::uint64_t size = 0;
    if (stat(input.path.c_str(), &st) == 0) {
      if (!S_ISREG(st.st_mode)) {
        throw Fatal(kUnreadable, input.path +
                                     ": not a regular file, which the processes of a run could "
                                     "share out");
      }
      size = static_cast<std::uint64_t>(st.st_size);
    }
    starts.push_back(starts.back() + size);
  }
  const std::uint64_t begin = cut(inputs, starts, rank, parts);
  const std::uint64_t end = cut(inputs, starts, rank + 1, parts);
  const auto inputs_begin = starts.begin();
  const auto inputs_end = starts.end() - 1;  // where each input starts
  vectorize::InputShare share;
  share.first =
      static_cast<std::size_t>(std::lower_bound(inputs_begin, inputs_end, begin) - inputs_begin);
  // A part that starts inside a file starts at one of its lines.
  if (share.first > 0 && starts[share.first - 1] < begin && begin < starts[share.first]) {
    --share.first;
    share.begin = begin - starts[share.first];
  }
  share.last =
      static_cast<std::size_t>(std::lower_bound(inputs_begin, inputs_end, end) - inputs_begin);
  if (share.last > 0 && starts[share.last - 1] < end && end < starts[share.last])
    share.end = static_cast<std::int64_t>(end - starts[share.last - 1]);
  if (share.last <= share.first) share = {share.first, share.first, 0, -1};
  return share;
}

}  // namespace punb::classify
