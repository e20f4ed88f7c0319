#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace punb::vectorize {

// "STAGE: 1234 documents, 56.7 MB, 89.0 MB/s"
std::string progress_line(const std::string& stage, std::uint64_t documents, std::uint64_t bytes,
                          double seconds);

// A line on standard error, redrawn at most once a second, while a long pass goes on; only
// when standard error is a terminal and `shown`.
class Progress {
 public:
  explicit Progress(std::string stage, bool shown = true);
  ~Progress();  // ends the line if one was drawn
  void update(std::uint64_t documents, std::uint64_t bytes);

 private:
  std::string stage_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace punb::vectorize
