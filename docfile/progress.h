#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace punb {

// "STAGE: 1234 documents, 56.7 MB, 89.0 MB/s"
std::string progress_line(const std::string& stage, std::uint64_t documents, std::uint64_t bytes,
                          double seconds);

// A line on standard error, redrawn at most once a second, while a long pass of `tool` goes on;
// only when standard error is a terminal and `shown`. The last one drawn stays.
class Progress {
 public:
  Progress(const char* tool, std::string stage, bool shown = true);
  ~Progress();  // ends the line if one was drawn
  void update(std::uint64_t documents, std::uint64_t bytes);

 private:
  const char* tool_;
  std::string stage_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

// The progress line of a whole run, while one lives: "punb: STEP: 12.3 MB, 4.5 s", the bytes
// those of the inputs read in the step, the seconds since the run began. A thread redraws it a
// few times a second, only when standard error is a terminal and `shown`; it is erased at the end,
// also when the run ends on a fault, so that every message starts on a clean line.
class RunProgress {
 public:
  // Starts at `step`.
  RunProgress(bool shown, std::string step);
  ~RunProgress();
  RunProgress(const RunProgress&) = delete;
  RunProgress& operator=(const RunProgress&) = delete;

 private:
  bool shown_ = false;
};

// The step the run has come to, and the part of it (a test after an iteration, say): shown when a
// RunProgress is, ignored otherwise.
void progress_step(std::string step);
void progress_part(std::string part);
// Bytes of input read, from any thread.
void progress_bytes(std::uint64_t bytes);

// Standard output or a message goes to the terminal while this lives: the progress line is
// erased first and drawn again afterwards.
class ProgressPause {
 public:
  ProgressPause();
  ~ProgressPause();
  ProgressPause(const ProgressPause&) = delete;
  ProgressPause& operator=(const ProgressPause&) = delete;

  bool paused() const { return paused_; }  // whether a line was being kept

 private:
  bool paused_;
};

}  // namespace punb
