#pragma once

#include <string>
#include <string_view>

namespace punb::report {

// Writes `content` to `path` through a new file beside it that is renamed over `path` only once
// it is complete: a fault leaves no partial file, under either name.
void replace_file(const std::string& path, std::string_view content);

}  // namespace punb::report
