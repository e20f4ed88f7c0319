// punb-classify's command line over the processes of an MPI job: each process scores its share
// of the documents, and the lines and files are those of punb-classify on one process.
#include <cstdio>
#include <iostream>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "classify/options.h"
#include "classify/run.h"
#include "docfile/fatal.h"
#include "docfile/large_pages.h"
#include "docfile/outfile.h"
#include "mpi/session.h"

namespace {

constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;

int report_fatal(const std::string&, const std::string& detail) {
  std::cerr << "punb-classify: " << detail << "\n";
  return kExitFatal;
}

}  // namespace

int main(int argc, char** argv) {
  punb::mpi::Session session(argc, argv);
  punb::keep_heap_lean();
  punb::Peers& peers = session.peers();
  try {
    const auto options = punb::classify::parse_options({argv + 1, argv + argc});
    if (options.help || options.version) {
      if (peers.leads()) {
        punb::print(options.help ? punb::name_program(punb::classify::kUsage, "punb-classify",
                                                      "punb-classify-mpi")
                                 : std::string("punb-classify-mpi " PUNB_VERSION "\n"));
      }
      return session.finish(peers.leads() ? punb::checked_exit(0, "punb-classify") : 0);
    }
    punb::classify::run(options, std::cerr, peers);
    return session.finish(peers.leads() ? punb::checked_exit(0, "punb-classify") : 0);
  } catch (const punb::classify::UsageError& e) {
    // Every process reads the same command line: they all come here.
    if (peers.leads()) std::cerr << "punb-classify: " << e.what() << "\n" << punb::classify::kUsage;
    return session.finish(kExitUsage);
  } catch (const punb::Fatal& e) {
    return session.end_on_fault(e.message(), e.detail(), report_fatal);
  } catch (const std::bad_alloc&) {
    return session.end_on_fault("out of memory", "out of memory", report_fatal);
  } catch (const std::system_error& e) {
    return session.end_on_fault("system error", e.what(), report_fatal);  // a thread or a lock
  }
}
