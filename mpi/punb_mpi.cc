// punb's command line over the processes of an MPI job: each process reads its share of the
// inputs, and the files and the reports are those of punb on one process.
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "app/options.h"
#include "app/run.h"
#include "docfile/fatal.h"
#include "docfile/large_pages.h"
#include "docfile/outfile.h"
#include "mpi/session.h"

int main(int argc, char** argv) {
  punb::mpi::Session session(argc, argv);
  punb::keep_heap_lean();
  punb::Peers& peers = session.peers();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (const std::string text = punb::help_or_version(args, "punb-mpi"); !text.empty()) {
    if (peers.leads()) punb::print(text);
    return session.finish(peers.leads() ? punb::checked_exit(0, "punb") : 0);
  }
  try {
    punb::run_mode(punb::scan_options(args), peers);
    return session.finish(peers.leads() ? punb::checked_exit(0, "punb") : 0);
  } catch (const punb::UsageError& e) {
    // Every process reads the same command line: they all come here.
    return session.finish(peers.leads() ? punb::report_usage_error(e, true) : punb::kExitUsage);
  } catch (const punb::Fatal& e) {
    return session.end_on_fault(e.message(), e.detail(), punb::report_fatal);
  } catch (const std::bad_alloc&) {
    return session.end_on_fault("out of memory", "not enough memory for the documents of this run",
                                punb::report_fatal);
  } catch (const std::system_error& e) {
    return session.end_on_fault("system error", e.what(), punb::report_fatal);
  }
}
