#pragma once

#include <mpi.h>

#include <memory>
#include <string>

#include "peers/peers.h"

namespace punb::mpi {

// MPI for the length of a program: started when a launcher (mpirun, srun) started the process,
// and left alone otherwise, so that the program started by hand runs as one process at no cost.
class Session {
 public:
  Session(int& argc, char**& argv);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Peers& peers() { return *peers_; }

  // Ends the program with `status`: MPI is finished first, so that the launcher sees all processes
  // end. The job's status is the leading process's: the others end with 0 whatever happened, as a
  // launcher that sees a process fail may end the others before the leading one's report is out.
  int finish(int status);

  // A fault ended the run in this process. When every process ended on it (they agreed on it, or
  // met it at the same step), the leading process prints it and all end normally with status 1.
  // A process that does not come within a few seconds is still waiting for the others in a step
  // of the run: this process then prints the fault itself and ends the whole job.
  int end_on_fault(const std::string& message, const std::string& detail,
                   int (*report)(const std::string&, const std::string&));

 private:
  bool started_ = false;
  MPI_Comm run_comm_ = MPI_COMM_NULL;
  MPI_Comm fault_comm_ = MPI_COMM_NULL;  // apart from the run's, so the two never meet
  std::unique_ptr<Peers> peers_;
};

}  // namespace punb::mpi
