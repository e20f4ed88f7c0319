#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace punb::classify {

struct Options {
  std::string model;                 // the model file
  std::vector<std::string> files;    // documents in punb's line format, or text under --text
  bool text = false;                 // --text
  bool labeled = false;              // --labeled: test lines, and the figures after the posteriors
  std::vector<std::string> ids;      // --ids: the sources of the documents, a line each
  bool rank = false;                 // --rank (also --top)
  std::optional<std::uint64_t> top;  // --top K
  std::optional<double> min;         // --min P
  std::optional<std::string> out;    // -o
  std::optional<std::uint64_t> words;    // --words K: the model's strongest words, and stop
  std::optional<std::uint64_t> explain;  // --explain N: each document's N strongest words
  int threads = 0;                       // -j; 0: the CPUs this process may run on
  bool info = false;
  bool help = false;
  bool version = false;
};

class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& reason) : std::runtime_error(reason) {}
};

// Reads the arguments (without the program name); throws UsageError for a command line that
// cannot start a run.
Options parse_options(const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace punb::classify
