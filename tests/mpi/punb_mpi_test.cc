// punb-mpi under the launcher against punb on one process: every byte it leaves (standard
// output, status, the result file, the run log, the working files, the model file) at one to
// four processes and one or two threads each; faults in the first and the last process's share;
// a process killed in the middle of a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "differential_runs.h"
#include "mpi_support.h"
#include "run_file_kinds.h"

namespace punb {
namespace {

using test::TempDir;

const char* const kFiles[] = {"c.output",          "c.log",          "spy",    "pos_withoutspy",
                              "truetrain1matrix0", "unlabelmatrix0", "m.model"};

using test::Corpus;
using test::kRuns;
using test::Run;

// The differential corpora, smaller: what matters here is where the shares are cut, not how much
// they hold.
const Corpus kCorpora[] = {
    {"overlapping",
     "--pos 150 --unlabel 700 --test 150 --vocab 3000 --words 25 --overlap 0.9 --seed 1"},
    {"odd_lines",
     "--pos 120 --unlabel 450 --test 120 --vocab 2000 --words 15 --overlap 0.9 --odd 0.3 --seed 5"},
    {"steep_and_long",
     "--pos 40 --unlabel 150 --test 40 --vocab 400000 --words 300 --zipf 1.6 --overlap 0.7 "
     "--seed 9 --random-order"},
    {"mostly_positive_unlabeled",
     "--pos 120 --unlabel 300 --test 80 --vocab 1500 --words 12 --overlap 0.95 "
     "--unlabeled-pos-share 0.8 --odd 0.1 --seed 3"},
};

using Make = std::function<void(const TempDir&)>;

// What a run left behind, to compare.
struct Left {
  test::RunResult run;
  std::vector<std::string> files;
};

Left run_punb(const Make& make, std::vector<std::string> args) {
  TempDir dir;
  make(dir);
  args.insert(args.end(), {"-f", "c", "--model", "m.model", "-j", "1"});
  Left left{test::run_in_directory(dir.root(), PUNB_BINARY, args), {}};
  for (const char* f : kFiles) left.files.push_back(dir.exists(f) ? dir.read(f) : "<absent>");
  return left;
}

Left run_punb_mpi(const Make& make, std::vector<std::string> args, int processes,
                  const char* threads) {
  TempDir dir;
  make(dir);
  args.insert(args.end(), {"-f", "c", "--model", "m.model", "-j", threads});
  Left left{test::run_on(processes, dir, PUNB_MPI_BINARY, args), {}};
  for (const char* f : kFiles) left.files.push_back(dir.exists(f) ? dir.read(f) : "<absent>");
  return left;
}

// MPI does what the run needs of it, at one to four processes.
TEST(MpiPeers, DoWhatPeersMustDo) {
  TempDir dir;
  for (int processes : {1, 2, 3, 4}) {
    const test::RunResult r = test::run_on(processes, dir, PEERS_CHECK_BINARY, {});
    EXPECT_EQ(r.status, 0) << processes << " processes:\n" << r.out << r.err;
    EXPECT_EQ(r.out, "") << processes << " processes";
  }
}

void expect_same(const Left& one, const Left& many) {
  EXPECT_EQ(many.run.status, one.run.status);
  EXPECT_EQ(many.run.out, one.run.out) << many.run.err;
  EXPECT_EQ(test::program_lines(many.run.err, "punb:"), test::program_lines(one.run.err, "punb:"));
  for (std::size_t f = 0; f < one.files.size(); ++f) {
    EXPECT_TRUE(many.files[f] == one.files[f]) << kFiles[f] << " differs";
  }
}

class PunbMpi : public ::testing::TestWithParam<std::tuple<Corpus, Run>> {};

// One to four processes, with one and two threads in turn: every run option meets both thread
// counts at each number of processes over the table.
TEST_P(PunbMpi, SameBytesAsPunb) {
  const auto& [corpus, run] = GetParam();
  const Make make = [&](const TempDir& d) {
    test::generate_corpus(d, "c", corpus.generator_options);
  };
  const Left one = run_punb(make, run.args);
  ASSERT_EQ(one.run.status, 0) << one.run.out << one.run.err;
  int turn = 0;
  for (const test::Run& r : kRuns) turn += std::string(r.name) < run.name;
  for (const Corpus& c : kCorpora) turn += std::string(c.name) < corpus.name;
  for (int processes : {1, 2, 3, 4}) {
    const char* threads = (processes + turn) % 2 ? "2" : "1";
    SCOPED_TRACE(std::to_string(processes) + " processes, -j " + threads);
    expect_same(one, run_punb_mpi(make, run.args, processes, threads));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Corpora, PunbMpi, ::testing::Combine(::testing::ValuesIn(kCorpora), ::testing::ValuesIn(kRuns)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

// The run files as devices and pipes, which the leading process writes front to back.
class PunbMpiRunFile : public ::testing::TestWithParam<test::RunFileKind> {};

TEST_P(PunbMpiRunFile, GivesWhatPlainFilesGive) {
  const test::RunFileKind& k = GetParam();
  for (int processes : {2, 3}) {
    SCOPED_TRACE(std::to_string(processes) + " processes");
    test::expect_as_with_plain_files(k, [&](const TempDir& d) {
      return test::run_on(processes, d, PUNB_MPI_BINARY, {k.mode, "-f", "c", "-j", "1"});
    });
  }
}

INSTANTIATE_TEST_SUITE_P(Table, PunbMpiRunFile, ::testing::ValuesIn(test::kRunFileKinds),
                         [](const auto& info) { return std::string(info.param.name); });

// A corpus of `lines` lines per set with a bad line at `bad` (0-based) of one file.
Make with_bad_line(const std::string& file, int bad, const std::string& text) {
  return [=](const TempDir& d) {
    test::generate_corpus(d, "c",
                          "--pos 60 --unlabel 200 --test 50 --vocab 300 --words 8 --seed 2");
    std::string t = d.read(file);
    std::size_t at = 0;
    for (int k = 0; k < bad; ++k) at = t.find('\n', at) + 1;
    d.write(file, t.replace(at, t.find('\n', at) - at, text));
  };
}

// A bad line where the first process reads and where the last does: the message, the file and
// line on standard error, status 1, the files as punb leaves them, and no process left waiting.
TEST(PunbMpiFaults, BadLineInTheFirstOrTheLastShare) {
  struct Case {
    const char* file;
    int line;
    const char* text;
  };
  const Case cases[] = {
      {"c.unlabel", 2, "3:1 600000:1"},
      {"c.unlabel", 198, "3:1 600000:1"},
      {"c.pos", 1, "4:-2"},
      {"c.pos", 59, "4:99999999999"},
      {"c.test", 0, "5 1:1"},
      {"c.test", 48, "0 3:1"},
  };
  int turn = 0;
  for (const char* mode : {"-nb", "-kov"}) {
    for (const Case& c : cases) {
      const int processes = 2 + turn++ % 2;
      SCOPED_TRACE(std::string(mode) + " " + c.file + ":" + std::to_string(c.line + 1) + ", " +
                   std::to_string(processes) + " processes");
      const Make make = with_bad_line(c.file, c.line, c.text);
      const Left one = run_punb(make, {mode});
      ASSERT_EQ(one.run.status, 1);
      expect_same(one, run_punb_mpi(make, {mode}, processes, "1"));
    }
  }
}

// Asked for help, each program names itself where the one-process tool names itself.
TEST(PunbMpiPrograms, HelpNamesTheProgram) {
  TempDir dir;
  for (const auto& [program, name] : {std::pair{PUNB_MPI_BINARY, "punb-mpi"},
                                      std::pair{CLASSIFY_MPI_BINARY, "punb-classify-mpi"}}) {
    const test::RunResult r = test::run_on(2, dir, program, {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(std::string("usage: ") + name + " ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(std::string(" ") + name + " --help"), std::string::npos) << r.out;
  }
}

TEST(PunbMpiFaults, UsageErrorAndMissingFiles) {
  const Make none = [](const TempDir&) {};
  const Make corpus = [](const TempDir& d) {
    test::generate_corpus(d, "c", "--pos 20 --unlabel 40 --test 10 --vocab 50 --words 5 --seed 1");
  };
  for (const auto& [make, args] : std::vector<std::pair<Make, std::vector<std::string>>>{
           {corpus, {"-x"}}, {none, {"-kov"}}, {none, {"-nb"}}, {corpus, {"-kov", "-s", "2"}}}) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    expect_same(run_punb(make, args), run_punb_mpi(make, args, 2, "1"));
  }
}

// A process killed in the middle of a run: the launcher ends with a failure within seconds,
// nothing is left running, and the model file named by the user keeps its earlier content.
TEST(PunbMpiFaults, KilledProcessEndsTheJobAndLeavesNoHalfWrittenModel) {
  TempDir dir;
  test::generate_corpus(dir, "killed",
                        "--pos 4000 --unlabel 30000 --test 2000 --vocab 20000 "
                        "--words 60 --seed 4");
  dir.write("m.model", "earlier model\n");
  // Killed when both processes are well under way.
  test::kill_one_of_two(dir, PUNB_MPI_BINARY,
                        {"-kov", "-f", "killed", "-i", "400", "--model", "m.model"}, [&] {
                          if (test::processes_of(PUNB_MPI_BINARY, dir.root()).size() < 2)
                            return false;
                          std::this_thread::sleep_for(std::chrono::milliseconds(300));
                          return true;
                        });
  EXPECT_TRUE(dir.read("m.model") == "earlier model\n") << "the model file was replaced";
}

}  // namespace
}  // namespace punb
