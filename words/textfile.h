#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace punb::words {

// The whole content of a small file (a vocabulary, a list of stop words); a failure ends the run
// with `message` and the path.
std::string read_whole_file(const std::string& path, const char* message);

// Calls f(line, number) for each line of `text`, numbered from 1, without its line end (a
// trailing carriage return is dropped too).
template <class F>
void for_each_line(std::string_view text, F&& f) {
  std::size_t number = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    f(line, ++number);
  }
}

}  // namespace punb::words
