// What every tool does with an output name that is a symbolic link, a link to an open file (as
// /dev/stdout is), or a file whose permissions were chosen: a link stays a link and the file at
// its end gets the bytes, an open file is written in place, and a replaced file keeps its
// permission bits. Each tool is run on the same names, in scratch folders only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "run_file_kinds.h"
#include "test_support.h"

namespace punb::test {
namespace {

namespace fs = std::filesystem;

// A tool writing one output file, which the cases name "x.pos".
struct Writer {
  const char* name;
  const char* program;
  std::vector<std::string> (*args)(const std::string& file);
  bool prints = false;  // its standard output carries more than the file
};

// N = 20, U = 30, 10 test documents, a positive-unlabeled run and its model; text for the
// vectorizer.
void prepare(const TempDir& dir) {
  generate_corpus(dir, "c", "--pos 20 --unlabel 30 --test 10 --vocab 60 --words 6 --seed 4");
  ASSERT_EQ(run_punb(dir, {"-kov", "-f", "c", "--model", "m"}).status, 0);
  dir.write("p", "roses and tulips\ngarden roses\n");
  dir.write("u", "traffic news\nroses in the news\n");
}

const Writer kWriters[] = {
    {"punb_model", PUNB_BINARY,
     [](const std::string& f) -> std::vector<std::string> {
       return {"-nb", "-f", "c", "--model", f};
     },
     true},
    {"classify_output", CLASSIFY_BINARY,
     [](const std::string& f) -> std::vector<std::string> {
       return {"m", "c.unlabel", "-o", f};
     }},
    {"report_picture", REPORT_BINARY,
     [](const std::string& f) -> std::vector<std::string> {
       return {"c", "-o", f};
     },
     true},
    {"vectorize_lines", VECTORIZE_BINARY,
     [](const std::string& f) -> std::vector<std::string> {
       return {"-o", f.substr(0, f.size() - 4), "--pos", "p", "--unlabel", "u"};
     }},
};

void PrintTo(const Writer& w, std::ostream* os) { *os << w.name; }

// Runs the tool with its standard output in the file "fd1" and descriptor 3 open on "fd3".
RunResult write_through(const TempDir& dir, const Writer& w, const std::string& file) {
  std::vector<std::string> args = {"-c", "exec \"$0\" \"$@\" 3>fd3", w.program};
  for (const std::string& a : w.args(file)) args.push_back(a);
  return run_in_directory(dir.root(), "/bin/sh", args);
}

struct Case {
  const char* name;
  void (*setup)(const TempDir&);
  const char* link;     // what "x.pos" must still link to; empty: a plain file
  const char* written;  // the file that must hold the tool's bytes ("fd1": its standard output)
  unsigned mode = 0;    // the permission bits "written" must keep; 0: unchecked
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"link_to_a_file",
     [](const TempDir& d) {
       d.write("target", "earlier\n");
       fs::create_symlink("target", d.path("x.pos"));
     },
     "target", "target"},
    // A relative link is read from its own folder.
    {"links_through_a_folder",
     [](const TempDir& d) {
       fs::create_directory(d.path("sub"));
       d.write("sub/real", "earlier\n");
       fs::create_symlink("real", d.path("sub/inner"));
       fs::create_symlink("sub/inner", d.path("x.pos"));
     },
     "sub/inner", "sub/real"},
    {"link_to_a_missing_name", [](const TempDir& d) { fs::create_symlink("new", d.path("x.pos")); },
     "new", "new"},
    // As /dev/fd/3: an open file, written in place whatever it is a link to.
    {"link_to_an_open_file",
     [](const TempDir& d) { fs::create_symlink("/proc/self/fd/3", d.path("x.pos")); },
     "/proc/self/fd/3", "fd3"},
    // As /dev/stdout with standard output sent to a file.
    {"link_to_standard_output",
     [](const TempDir& d) { fs::create_symlink("/proc/self/fd/1", d.path("x.pos")); },
     "/proc/self/fd/1", "fd1"},
    {"private_file",
     [](const TempDir& d) {
       d.write("x.pos", "earlier\n");
       fs::permissions(d.path("x.pos"), fs::perms::owner_read | fs::perms::owner_write);
     },
     "", "x.pos", 0600},
    {"executable_file",
     [](const TempDir& d) {
       d.write("x.pos", "earlier\n");
       fs::permissions(d.path("x.pos"), fs::perms(0775));
     },
     "", "x.pos", 0775},
};

// Every tool with every case, but standard output only for the tools that print nothing else.
std::vector<std::tuple<Writer, Case>> pairs() {
  std::vector<std::tuple<Writer, Case>> all;
  for (const Writer& w : kWriters)
    for (const Case& c : kCases)
      if (!w.prints || std::string(c.written) != "fd1") all.emplace_back(w, c);
  return all;
}

class OutputFile : public ::testing::TestWithParam<std::tuple<Writer, Case>> {};

TEST_P(OutputFile, TakesTheBytesWhereTheNameLeads) {
  const auto& [w, c] = GetParam();
  TempDir dir;
  prepare(dir);
  const RunResult plain = write_through(dir, w, "plain.pos");
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string expected = dir.read("plain.pos");
  ASSERT_FALSE(expected.empty());

  c.setup(dir);
  const RunResult r = write_through(dir, w, "x.pos");
  EXPECT_EQ(r.status, 0) << r.err;
  if (std::string(c.link).empty()) {
    EXPECT_FALSE(fs::is_symlink(dir.path("x.pos")));
  } else {
    ASSERT_TRUE(fs::is_symlink(dir.path("x.pos")));
    EXPECT_EQ(fs::read_symlink(dir.path("x.pos")).string(), c.link);
  }
  const std::string written = std::string(c.written) == "fd1" ? r.out : dir.read(c.written);
  EXPECT_EQ(written, expected);
  if (c.mode != 0) {
    struct stat st;
    ASSERT_EQ(stat(dir.path(c.written).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
  }
  for (const auto& e : fs::recursive_directory_iterator(dir.root()))
    EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

INSTANTIATE_TEST_SUITE_P(Table, OutputFile, ::testing::ValuesIn(pairs()), [](const auto& info) {
  return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
});

// A run ended by a signal while its output file is open (punb-classify waiting for documents from
// a pipe) leaves the earlier file as it was and nothing else.
TEST(OutputFile, ASignalLeavesTheEarlierFileAndNothingElse) {
  for (const int signal : {SIGTERM, SIGKILL, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    TempDir dir;
    prepare(dir);
    dir.write("out", "earlier\n");
    ASSERT_EQ(mkfifo(dir.path("docs").c_str(), 0600), 0);
    std::vector<std::string> before;
    for (const auto& e : fs::directory_iterator(dir.root())) before.push_back(e.path().filename());
    const pid_t child = fork();
    if (child == 0) {
      // The signal's own action, also where the test runs with some ignored (in the background).
      std::signal(signal, SIG_DFL);
      if (chdir(dir.root().c_str()) != 0 || !freopen("/dev/null", "w", stdout)) _exit(127);
      execl(CLASSIFY_BINARY, CLASSIFY_BINARY, "m", "docs", "-o", "out", nullptr);
      _exit(127);
    }
    // Opens once the tool reads the pipe, which it does with its output file open.
    int docs = -1;
    for (int wait = 0; docs < 0 && wait < 10000 && waitpid(child, nullptr, WNOHANG) == 0; ++wait) {
      docs = open(dir.path("docs").c_str(), O_WRONLY | O_NONBLOCK);
      if (docs < 0) usleep(1000);
    }
    ASSERT_GE(docs, 0) << "the tool never read its documents";
    ASSERT_EQ(write(docs, "1:1 2:1\n", 8), 8);
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(docs);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    std::vector<std::string> after;
    for (const auto& e : fs::directory_iterator(dir.root())) after.push_back(e.path().filename());
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);
    EXPECT_EQ(dir.read("out"), "earlier\n");
  }
}

// The run log, the result file and a working file as a device or a pipe. (A link to standard
// output is left out here: punb writes it at the file's own offset, over the reports.)
class RunFile : public ::testing::TestWithParam<RunFileKind> {};

TEST_P(RunFile, GivesWhatPlainFilesGive) {
  const RunFileKind& k = GetParam();
  expect_as_with_plain_files(k, [&](const TempDir& d) { return run_punb(d, {k.mode, "-f", "c"}); });
}

std::vector<RunFileKind> kinds_but_stdout() {
  std::vector<RunFileKind> kinds;
  for (const RunFileKind& k : kRunFileKinds)
    if (k.kind != std::string("stdout")) kinds.push_back(k);
  return kinds;
}

INSTANTIATE_TEST_SUITE_P(Table, RunFile, ::testing::ValuesIn(kinds_but_stdout()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace punb::test
