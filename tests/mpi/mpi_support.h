#pragma once

// Runs of the MPI programs under the launcher, for the tests.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
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

// The processes running `program` in the folder `cwd`.
inline std::vector<pid_t> processes_of(const std::string& program, const std::string& cwd) {
  namespace fs = std::filesystem;
  std::vector<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code e1, e2;
    const auto exe = fs::read_symlink(entry.path() / "exe", e1);
    const auto dir = fs::read_symlink(entry.path() / "cwd", e2);
    if (!e1 && !e2 && exe == fs::canonical(program) && dir == fs::canonical(cwd))
      found.push_back(static_cast<pid_t>(std::stoi(name)));
  }
  return found;
}

// Starts `program` with `args` on two processes in `dir`, waits until `under_way` says so, kills
// the last process and expects the launcher to end with a failure within seconds, leaving nothing
// running.
inline void kill_one_of_two(const TempDir& dir, const std::string& program,
                            const std::vector<std::string>& args,
                            const std::function<bool()>& under_way) {
  std::vector<std::string> command = launcher(2);
  command.push_back(program);
  command.insert(command.end(), args.begin(), args.end());
  const pid_t launcher = fork();
  if (launcher == 0) {
    if (chdir(dir.root().c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  for (int i = 0; i < 10000 && !under_way(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const std::vector<pid_t> ranks = processes_of(program, dir.root());
  ASSERT_EQ(ranks.size(), 2u);
  kill(ranks.back(), SIGKILL);
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  pid_t done = 0;
  while ((done = waitpid(launcher, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (done == 0) {
    kill(launcher, SIGKILL);
    waitpid(launcher, &status, 0);
    FAIL() << "the launcher was still running 20 seconds after a process was killed";
  }
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(processes_of(program, dir.root()).empty());
}

}  // namespace punb::test
