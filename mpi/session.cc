#include "mpi/session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "mpi/mpi_peers.h"

namespace punb::mpi {

namespace {

// Set by the launchers of Open MPI, MPICH (and Slurm's PMI) and PMIx.
bool started_by_launcher() {
  for (const char* v : {"OMPI_COMM_WORLD_SIZE", "PMI_SIZE", "PMIX_RANK", "PMI_RANK"}) {
    if (std::getenv(v)) return true;
  }
  return false;
}

// How long the processes that ended on a fault wait for the others before ending the job.
constexpr std::chrono::seconds kFaultWait{5};

}  // namespace

Session::Session(int& argc, char**& argv) {
  if (!started_by_launcher()) {
    peers_ = std::make_unique<SoloPeers>();
    return;
  }
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  started_ = true;
  MPI_Comm_dup(MPI_COMM_WORLD, &run_comm_);
  MPI_Comm_dup(MPI_COMM_WORLD, &fault_comm_);
  peers_ = std::make_unique<MpiPeers>(run_comm_);
}

Session::~Session() {
  if (started_) finish(0);
}

int Session::finish(int status) {
  if (!started_) return status;
  const bool leads = peers_->leads();
  peers_.reset();
  std::fflush(stdout);
  std::fflush(stderr);
  MPI_Comm_free(&fault_comm_);
  MPI_Comm_free(&run_comm_);
  MPI_Finalize();
  started_ = false;
  return leads ? status : 0;
}

int Session::end_on_fault(const std::string& message, const std::string& detail,
                          int (*report)(const std::string&, const std::string&)) {
  if (!started_ || peers_->size() == 1) return finish(report(message, detail));
  MPI_Request all_here;
  MPI_Ibarrier(fault_comm_, &all_here);
  const auto give_up = std::chrono::steady_clock::now() + kFaultWait;
  int done = 0;
  while (!done && std::chrono::steady_clock::now() < give_up) {
    MPI_Test(&all_here, &done, MPI_STATUS_IGNORE);
    if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (done) return finish(peers_->leads() ? report(message, detail) : 1);
  report(message, detail);
  std::fflush(stdout);
  MPI_Abort(MPI_COMM_WORLD, 1);
  return 1;
}

}  // namespace punb::mpi
