#pragma once

// The line parser and, beside it, the reading of the same line by the C library itself
// (strtok with the two delimiters taken in turn, atoi), which is what users' files have always
// meant. Shared by the parser's tests and its fuzz harness.

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "docfile/parse.h"

namespace punb::test {

using Pairs = std::vector<std::pair<int, int>>;

struct Reading {
  ParsedLine line;
  Pairs pairs;
  bool slack_kept = true;  // the bytes after the line are as they were
};

inline Reading parse_line(const std::string& text, bool test_line) {
  std::string buffer = text + std::string(kLineSlack, '#');
  Reading r;
  r.line = parse_document_line(buffer.data(), text.size(), test_line,
                               [&](int i, int c) { r.pairs.emplace_back(i, c); });
  r.slack_kept = buffer.compare(text.size(), kLineSlack, std::string(kLineSlack, '#')) == 0;
  return r;
}

// The C library's reading, with the parser's checks applied to it: what the parser must report.
// Meaningful for text without NUL bytes whose numbers fit in 32 bits.
struct Expected {
  int label = 0;
  Pairs pairs;
  LineFault fault = LineFault::none;
};

inline Expected c_library_reading(const std::string& text, bool test_line) {
  std::string buffer = (test_line ? "" : "1 ") + text + " -1:-1";
  Expected e;
  e.label = std::atoi(std::strtok(buffer.data(), " "));
  if (test_line && e.label != 1 && e.label != -1) {
    e.fault = LineFault::bad_label;
    return e;
  }
  for (;;) {
    const char* index = std::strtok(nullptr, ":");
    if (!index) break;
    const char* count = std::strtok(nullptr, " ");
    if (!count) break;
    const int i = std::atoi(index);
    const int c = std::atoi(count);
    if (i == -1 && c == -1) break;
    if (i == -1) continue;
    if (i < -1 || i >= kIndexCount) {
      e.fault = LineFault::index_out_of_range;
      break;
    }
    if (c < 0) {
      e.fault = LineFault::negative_count;
      break;
    }
    e.pairs.emplace_back(i, c);
  }
  return e;
}

}  // namespace punb::test
