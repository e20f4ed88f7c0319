// Checks MpiPeers from inside every process of a job (run under the launcher by the tests):
// prints what went wrong, and ends with status 1 when anything did.
#include <cstdio>

#include "mpi/session.h"
#include "peers_conformance.h"

int main(int argc, char** argv) {
  punb::mpi::Session session(argc, argv);
  const std::string wrong = punb::test::check_peers(session.peers());
  std::fputs(wrong.c_str(), stdout);
  const int status = wrong.empty() ? 0 : 1;
  std::fflush(stdout);
  // Every process's status counts here, not only the leading one's.
  session.finish(0);
  return status;
}
