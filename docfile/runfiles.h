#pragma once

#include <string>

namespace punb {

// The five files of a run, all named after the stem given on the command line.
struct RunFiles {
  std::string positive;   // stem.pos
  std::string unlabeled;  // stem.unlabel
  std::string test;       // stem.test
  std::string log;        // stem.log
  std::string result;     // stem.output

  static RunFiles from_stem(const std::string& stem) {
    return {stem + ".pos", stem + ".unlabel", stem + ".test", stem + ".log", stem + ".output"};
  }
};

}  // namespace punb
