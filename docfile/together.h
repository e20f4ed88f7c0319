#pragma once

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
  std::string failed;
  std::string message;
  std::string detail;
  if (peers.leads()) {
    try {
      step();
    } catch (const Fatal& f) {
      failed = "1";
      message = f.message();
      detail = f.detail();
    }
  }
  peers.share(failed, 0);
  if (failed.empty()) return;
  peers.share(message, 0);
  peers.share(detail, 0);
  throw Fatal(message, detail);
}

}  // namespace punb
