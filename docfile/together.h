#pragma once

#include <cstdint>
#include <string>

#include "docfile/fatal.h"
#include "peers/peers.h"

namespace punb {

// Runs `step` on the leading process alone (writing a file that only it writes, say); a fault it
// meets ends the run in every process, with the same message.
template <class Step>
void on_leader(Peers& peers, Step&& step) {
  if (peers.size() == 1) {
    step();
    return;
  }
  std::int64_t failed = 0;
  std::string message;
  std::string detail;
  if (peers.leads()) {
    try {
      step();
    } catch (const Fatal& f) {
      failed = 1;
      message = f.message();
      detail = f.detail();
    }
  }
  if (peers.max(failed) == 0) return;
  peers.share(message, 0);
  peers.share(detail, 0);
  throw Fatal(message, detail);
}

}  // namespace punb
