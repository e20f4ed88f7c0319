#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "classify/shared_output.h"
#include "peers/peers.h"

namespace punb::classify {

// A document's line, to be written in rank order: its posterior and its number in input order
// place it, and it lies at [begin, begin + size) of the text of the lines.
struct LineKey {
  double p;
  std::uint64_t document;
  std::size_t begin;
  std::size_t size;
};

// The lines of all processes in rank order (by decreasing posterior, ties in input order), or
// the first `top` of them: returns this process's part of that order, the parts following one
// another in process order. The processes sort samples of their keys to cut the order into parts
// of about equal size, send each line to the process whose part holds it, and sort what they
// receive. Collective.
std::string rank_lines(Peers& peers, std::string text, std::vector<LineKey> keys,
                       std::optional<std::uint64_t> top, std::size_t round_bytes = kRoundBytes);

}  // namespace punb::classify
