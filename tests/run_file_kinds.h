#pragma once

// A run's own files (the run log, the result file, a working file) as something other than a
// plain file: a link to /dev/null, a named pipe a reader drains, a link to standard output. The
// run must give what a run with plain files gives: the same reports and other files, the pipe's
// reader the same bytes, and never a hang.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace punb::test {

struct RunFileKind {
  const char* name;
  const char* file;  // the run file made special
  const char* kind;  // "null", "pipe" or "stdout"
  const char* mode;  // -kov or -nb
};

inline void PrintTo(const RunFileKind& k, std::ostream* os) { *os << k.name; }

inline const RunFileKind kRunFileKinds[] = {
    {"log_to_null", "c.log", "null", "-kov"},
    {"log_to_pipe", "c.log", "pipe", "-kov"},
    {"result_to_pipe", "c.output", "pipe", "-kov"},
    {"working_file_to_stdout", "unlabelmatrix0", "stdout", "-kov"},
    {"working_file_to_pipe", "spy", "pipe", "-kov"},
    {"result_to_stdout", "c.output", "stdout", "-nb"},
};

inline const char* const kRunFiles[] = {
    "c.output", "c.log", "spy", "pos_withoutspy", "truetrain1matrix0", "unlabelmatrix0"};

// Runs `run` (in `dir`, with the mode) once with plain files and once with `k`'s file made special,
// and checks the second against the first.
inline void expect_as_with_plain_files(const RunFileKind& k,
                                       const std::function<RunResult(const TempDir&)>& run) {
  TempDir plain_dir;
  TempDir dir;
  for (const TempDir* d : {&plain_dir, &dir})
    generate_corpus(*d, "c", "--pos 60 --unlabel 200 --test 50 --vocab 300 --words 8 --seed 2");
  const RunResult plain = run(plain_dir);
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string special = dir.path(k.file);
  const std::string kind = k.kind;
  std::string drained;
  std::thread reader;
  if (kind == "pipe") {
    ASSERT_EQ(mkfifo(special.c_str(), 0600), 0);
    reader = std::thread([&] {
      const int fd = open(special.c_str(), O_RDONLY);
      char buffer[4096];
      for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
        drained.append(buffer, static_cast<std::size_t>(n));
      if (fd >= 0) close(fd);
    });
  } else {
    std::filesystem::create_symlink(kind == "null" ? "/dev/null" : "/proc/self/fd/1", special);
  }
  const RunResult r = run(dir);
  if (reader.joinable()) {
    // A reader still waiting for a writer that never came gets an end of file.
    const int wake = open(special.c_str(), O_WRONLY | O_NONBLOCK);
    if (wake >= 0) close(wake);
    reader.join();
  }
  EXPECT_EQ(r.status, 0) << r.err;
  if (kind == "pipe") {
    EXPECT_TRUE(drained == plain_dir.read(k.file)) << "the reader's bytes differ";
  }
  if (kind == "stdout") {
    EXPECT_NE(r.out.find(plain_dir.read(k.file)), std::string::npos);
  } else {
    EXPECT_EQ(r.out, plain.out);
  }
  for (const char* f : kRunFiles) {
    if (f == std::string(k.file) || (k.mode == std::string("-nb") && f != std::string("c.output")))
      continue;
    EXPECT_TRUE(dir.read(f) == plain_dir.read(f)) << f << " differs";
  }
}

}  // namespace punb::test
