#pragma once

// Runs of the MPI programs under the launcher, for the tests.

#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

namespace punb::test {

// The launcher with what it needs here: Open MPI refuses root without being told, and wants
// leave to start more processes than there are cores.
inline std::vector<std::string> launcher(int processes) {
  static const bool open_mpi = [] {
    setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 0);
    setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 0);
    TempDir scratch;
    const std::string version = run_in_directory(scratch.root(), MPIRUN, {"--version"}).out;
    return version.find("Open MPI") != std::string::npos ||
           version.find("OpenRTE") != std::string::npos;
  }();
  // The MPI libraries keep blocks to the end of the process, which the leak checker of the
  // sanitizer builds would take for leaks: under the launcher it is off (the same code's leaks are
  // checked without it).
  std::vector<std::string> command = {"env", "LSAN_OPTIONS=detect_leaks=0", MPIRUN, "-n",
                                      std::to_string(processes)};
  // One machine: no time spent looking for networks, nor waiting to end the processes of a job
  // that failed.
  if (open_mpi) {
    command.insert(command.end(), {"--oversubscribe", "--mca", "mtl", "^ofi", "--mca",
                                   "odls_base_sigkill_timeout", "0"});
  }
  return command;
}

// Runs `program` with `args` on `processes` processes in `dir`.
inline RunResult run_on(int processes, const TempDir& dir, const std::string& program,
                        const std::vector<std::string>& args) {
  std::vector<std::string> command = launcher(processes);
  command.push_back(program);
  command.insert(command.end(), args.begin(), args.end());
  return run_in_directory(dir.root(), command[0], {command.begin() + 1, command.end()});
}

// The lines of standard error that the program wrote, without the launcher's own.
inline std::string program_lines(const std::string& err, const std::string& prefix) {
  std::string kept;
  std::size_t at = 0;
  while (at < err.size()) {
    std::size_t end = err.find('\n', at);
    if (end == std::string::npos) end = err.size();
    const std::string line = err.substr(at, end - at);
    if (line.rfind(prefix, 0) == 0) kept += line + "\n";
    at = end + 1;
  }
  return kept;
}

}  // namespace punb::test
