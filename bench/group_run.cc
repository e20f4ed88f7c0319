// group-run N ARGS...: punb's command line run by N processes of the in-process group, each a
// thread with one worker (-j 1), so that the work of the many-process path (reading by shares,
// running sums passed along the chain, writing at offsets) can be measured as CPU time without
// MPI's waiting, which spins. It leaves the files and prints the reports that `punb ARGS` does.
#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/run.h"
#include "docfile/outfile.h"
#include "peers/local_peers.h"

namespace {

constexpr int kMostMembers = 1024;

int usage() {
  std::fputs("usage: group-run N ARGS...  (N from 1 to 1024: punb's ARGS on N processes)\n",
             stderr);
  return punb::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  int members = 0;
  const std::string n = argv[1];
  const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), members);
  if (ec != std::errc() || end != n.data() + n.size() || members < 1 || members > kMostMembers) {
    return usage();
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
  punb::Options options;
  try {
    options = punb::scan_options(args);
  } catch (...) {
    return punb::report_failure(std::current_exception());
  }
  options.threads = 1;
  punb::LocalGroup group(members);
  const auto errors = group.run([&](punb::Peers& peers) { punb::run_mode(options, peers); });
  // The first member's own fault is the one to report: the others ended because of it.
  for (const auto& e : errors) {
    bool lost = false;
    if (!e) continue;
    try {
      std::rethrow_exception(e);
    } catch (const punb::PeerLost&) {
      lost = true;
    } catch (...) {
    }
    if (!lost) return punb::report_failure(e);
  }
  return punb::checked_exit(0, "punb");
}
