// punb-classify-mpi under the launcher against punb-classify on one process: standard output,
// status, messages and the -o file for each option, at one to four processes and one or two
// threads each; faults in the first and the last process's share; a process killed in the middle
// of a run.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "classify/classify_inputs.h"
#include "mpi_support.h"

namespace punb {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

// The inputs every run reads, made once.
const TempDir& inputs() {
  static const TempDir dir;
  static const bool made = test::make_classify_inputs(dir);
  EXPECT_TRUE(made);
  return dir;
}

struct Row {
  const char* name;
  std::vector<std::string> args;
};

// What a run left: its report, and the -o file or "<absent>".
struct Left {
  test::RunResult run;
  std::string out;
};

Left left_by(test::RunResult run) {
  const TempDir& dir = inputs();
  Left left{std::move(run), dir.exists("out") ? dir.read("out") : "<absent>"};
  fs::remove(dir.path("out"));
  return left;
}

void expect_same(const Left& one, const Left& many) {
  EXPECT_EQ(many.run.status, one.run.status);
  EXPECT_TRUE(many.run.out == one.run.out) << "standard output differs:\n"
                                           << many.run.out.substr(0, 2000) << many.run.err;
  EXPECT_EQ(test::program_lines(many.run.err, "punb-classify:"),
            test::program_lines(one.run.err, "punb-classify:"));
  EXPECT_TRUE(many.out == one.out) << "the -o file differs";
  for (const auto& entry : fs::directory_iterator(inputs().root()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

// Runs each row alone and under the launcher at `counts` process counts, which the rows take in
// turn from 2, 3, 4, 1 (a launch costs more than most runs), with one or two threads in turn.
void check_rows(const std::vector<Row>& rows, int counts = 1, int turn = 0) {
  const TempDir& dir = inputs();
  static const int kCycle[] = {2, 3, 4, 2, 3, 4, 1};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Left one = left_by(test::run_in_directory(dir.root(), CLASSIFY_BINARY, row.args));
    for (int k = 0; k < counts; ++k) {
      const int processes = kCycle[turn++ % std::size(kCycle)];
      std::vector<std::string> args = row.args;
      const char* threads = (turn / 2) % 2 ? "2" : "1";
      args.insert(args.end(), {"-j", threads});
      SCOPED_TRACE(std::to_string(processes) + " processes, -j " + threads);
      expect_same(one, left_by(test::run_on(processes, dir, CLASSIFY_MPI_BINARY, args)));
    }
  }
}

TEST(ClassifyMpi, SameBytesAsPunbClassifyForEachOption) {
  const std::vector<std::string> ids = {"--ids", "a.ids", "--ids", "b.ids",
                                        "--ids", "e.ids", "--ids", "c.ids"};
  auto with_ids = [&](std::vector<std::string> args) {
    args.insert(args.begin() + 1, ids.begin(), ids.end());
    return args;
  };
  // In the cycle of process counts, "info" and "words" come at one process.
  check_rows({
      {"plain", {"m", "c.unlabel", "c.test"}},
      {"ids_in_several_files", with_ids({"m", "c.unlabel"})},
      {"labeled", {"m", "--labeled", "c.test"}},
      {"rank", {"m", "--rank", "c.unlabel", "c.pos"}},
      {"top_through_ties", {"m", "--top", "5", "ties"}},
      {"top_with_ids", with_ids({"m", "--top", "40", "c.unlabel"})},
      {"info", {"m", "--info"}},
      {"min", {"m", "--min", "0.5", "c.unlabel"}},
      {"min_ranked_with_ids", with_ids({"m", "--min", "0.3", "--rank", "c.unlabel"})},
      {"explain_ranked_with_ids", with_ids({"m", "--explain", "3", "--rank", "c.unlabel"})},
      {"explain", {"m", "--explain", "2", "c.test", "--labeled"}},
      {"words_to_a_file", {"m", "--words", "4", "-o", "out"}},
      {"to_a_file", {"m", "c.unlabel", "-o", "out"}},
      {"words", {"m", "--words", "6"}},
      {"ranked_to_a_file", with_ids({"m", "--top", "90", "c.unlabel", "-o", "out"})},
      {"labeled_to_a_file", {"m", "--labeled", "c.test", "-o", "out"}},
  });
}

TEST(ClassifyMpi, SameBytesAsPunbClassifyOnText) {
  check_rows(
      {
          {"folder", {"t", "--text", "new"}},
          {"lines", {"t", "--text", "lines.txt"}},
          {"both_ranked_and_explained",
           {"t", "--text", "--rank", "--explain", "2", "lines.txt", "new"}},
          {"top_to_a_file", {"t", "--text", "--top", "12", "new", "lines.txt", "-o", "out"}},
      },
      2, 1);
}

// Faults wherever the shares are cut: the message and status of one process, the lines it
// printed before them, and no -o file.
TEST(ClassifyMpi, FaultsAsOneProcessMeetsThem) {
  check_rows(
      {
          {"bad_line_in_the_first_share", {"m", "bad.first", "-o", "out"}},
          {"bad_line_in_the_last_share", {"m", "c.pos", "bad.last"}},
          {"bad_label_in_the_last_share", {"m", "--labeled", "bad.test", "--rank"}},
          {"too_few_sources", {"m", "--ids", "short.ids", "c.unlabel"}},
          {"usage", {"m", "--top", "0", "c.unlabel"}},
          {"too_many_sources", {"m", "--ids", "long.ids", "--min", "0.2", "c.unlabel"}},
          {"sources_for_ranking_too_many", {"m", "--ids", "long.ids", "--rank", "c.unlabel"}},
          {"missing_sources", {"m", "--ids", "a.ids", "--ids", "gone.ids", "c.unlabel"}},
          {"missing_documents", {"m", "c.test", "gone", "-o", "out"}},
          {"output_on_a_full_disk", {"m", "c.unlabel", "-o", "/dev/full"}},
          {"text_without_words", {"m", "--text", "new"}},
      },
      1, 2);
}

// Whether a process of `dir` has a file of it open that has no name (the -o file's stand-in).
bool unnamed_file_open(const TempDir& dir) {
  const std::string folder = fs::canonical(dir.root()).string() + "/";
  for (const pid_t pid : test::processes_of(CLASSIFY_MPI_BINARY, dir.root())) {
    std::error_code ignored;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
      const std::string link = fs::read_symlink(fd.path(), ignored).string();
      if (link.starts_with(folder) && link.ends_with(" (deleted)")) return true;
    }
  }
  return false;
}

// A process killed while the processes write the -o file: the launcher ends with a failure
// within seconds, nothing is left running, and the file keeps its earlier content, with nothing
// beside it.
TEST(ClassifyMpiFaults, KilledProcessLeavesNoHalfWrittenFile) {
  TempDir dir;
  test::generate_corpus(dir, "k",
                        "--pos 300 --unlabel 60000 --test 10 --vocab 20000 --words 60 --seed 4");
  ASSERT_EQ(test::run_punb(dir, {"-nb", "-f", "k", "--model", "m"}).status, 0);
  std::string many;
  const std::string unlabeled = dir.read("k.unlabel");
  for (int k = 0; k < 4; ++k) many += unlabeled;
  dir.write("many", many);
  dir.write("out", "earlier output\n");
  std::vector<std::string> before;
  for (const auto& e : fs::directory_iterator(dir.root())) before.push_back(e.path().filename());
  // Killed while the run writes the file that stands in for "out".
  test::kill_one_of_two(
      dir, CLASSIFY_MPI_BINARY,
      {"m", "many", "many", "many", "--explain", "40", "--rank", "-j", "1", "-o", "out"},
      [&] { return unnamed_file_open(dir); });
  EXPECT_EQ(dir.read("out"), "earlier output\n");
  std::vector<std::string> after;
  for (const auto& e : fs::directory_iterator(dir.root())) after.push_back(e.path().filename());
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  EXPECT_EQ(after, before);
}

// A read-only -o file, replaced by a user who owns it but is not root: the processes write the
// stand-in, which takes the file's permission bits only once complete, as punb-classify does.
TEST(ClassifyMpi, ReplacesAReadOnlyFileOfItsUser) {
  const passwd* user = getpwnam("nobody");
  if (geteuid() != 0 || !user) GTEST_SKIP() << "needs root and the user nobody to run as another";
  TempDir dir;
  test::generate_corpus(dir, "k", "--pos 40 --unlabel 200 --test 10 --vocab 300 --words 8");
  ASSERT_EQ(test::run_punb(dir, {"-nb", "-f", "k", "--model", "m"}).status, 0);
  dir.write("out", "old\n");
  for (const auto& e : fs::recursive_directory_iterator(dir.root()))
    ASSERT_EQ(chown(e.path().c_str(), user->pw_uid, user->pw_gid), 0);
  ASSERT_EQ(chown(dir.root().c_str(), user->pw_uid, user->pw_gid), 0);
  fs::permissions(dir.path("out"), fs::perms(0444));
  const test::RunResult one =
      test::run_in_directory(dir.root(), CLASSIFY_BINARY, {"m", "k.unlabel"});
  std::vector<std::string> command = {"setpriv",
                                      "--reuid=" + std::to_string(user->pw_uid),
                                      "--regid=" + std::to_string(user->pw_gid),
                                      "--clear-groups",
                                      "env",
                                      "HOME=" + dir.root()};
  for (const std::string& a : test::launcher(2)) command.push_back(a);
  command.insert(command.end(), {CLASSIFY_MPI_BINARY, "m", "k.unlabel", "-o", "out"});
  const test::RunResult r =
      test::run_in_directory(dir.root(), command[0], {command.begin() + 1, command.end()});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(dir.read("out") == one.out) << "the -o file differs";
  struct stat st;
  ASSERT_EQ(stat(dir.path("out").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(st.st_uid, user->pw_uid);
}

}  // namespace
}  // namespace punb
