#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "docfile/runfiles.h"

namespace punb {

enum class Mode { none, naive_bayes, positive_unlabeled };

struct Options {
  Mode mode = Mode::none;
  double smoothing_weight = 0.0;     // -l
  double spy_fraction = 0.0;         // -s, -S
  double threshold_rate = 0.0;       // -rt
  std::int32_t iterations = 0;       // -i
  std::int32_t threads = 0;          // -j; 0: as many as the process has CPUs
  std::string stem;                  // -f, -F
  std::optional<std::string> model;  // --model: where to keep the classifier
  RunFiles files;
};

// A command line that cannot start a run; `reason` says why, for standard error.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& reason) : std::runtime_error(reason) {}
};

// Scans the arguments (without the program name), applies the defaults and checks that a run
// can start; throws UsageError otherwise.
Options scan_options(const std::vector<std::string>& args);

extern const char* const kUsageSynopsis;

}  // namespace punb
