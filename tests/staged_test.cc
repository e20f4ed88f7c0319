// Staged output files: a name the run did not create is never removed, and a model's path is
// judged before a run as its writing would judge it after.
#include "docfile/staged.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "docfile/fatal.h"
#include "test_support.h"

namespace punb {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

// The detail of the Fatal that `f` ends with, or "" when it ends well.
template <class F>
std::string failure_of(F&& f) {
  try {
    f();
  } catch (const Fatal& e) {
    EXPECT_EQ(e.message(), "can not write");
    return e.detail();
  }
  return "";
}

TEST(StagedFiles, NeverRemovesANameItDidNotCreate) {
  for (const bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed stand-in" : "named stand-in");
    allow_unnamed_files(unnamed);
    TempDir dir;
    dir.write("m", "earlier\n");
    // Every temporary name this process could take is another's already.
    std::vector<std::string> taken;
    for (int attempt = 0; attempt <= 100; ++attempt) {
      taken.push_back("punb.tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt));
      dir.write(taken.back(), "another's\n");
    }
    EXPECT_EQ(failure_of([&] { replace_file(dir.path("m"), "new\n", "can not write"); }),
              dir.path("m") + ": File exists");
    EXPECT_EQ(dir.read("m"), "earlier\n");
    for (const std::string& name : taken) EXPECT_EQ(dir.read(name), "another's\n") << name;
  }
  allow_unnamed_files(true);
}

// A run that ends before its files are committed leaves the earlier files and none of its own.
TEST(StagedFiles, AnUncommittedRunLeavesNoFileOfItsOwn) {
  TempDir dir;
  dir.write("a", "earlier\n");
  {
    StagedFiles files("can not write");
    for (const char* name : {"a", "b", "c"}) files.add(dir.path(name)).write("new\n");
  }
  EXPECT_EQ(dir.read("a"), "earlier\n");
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.root())) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"a"});
}

TEST(StagedFiles, ChecksAPathBeforeTheRunAsTheWritingWould) {
  struct Case {
    std::string path;
    std::string detail;  // "": the path can be written
  };
  // The longest legal name, and one byte more.
  const std::string longest(255, 'n');
  std::vector<Case> cases = {
      {longest, ""},
      {longest + "n", longest + "n: File name too long"},
      {"new", ""},
      {"file", ""},
      {"link_to_file", ""},
      {"link_to_new", ""},
      {"/dev/null", ""},
      {"nowhere/m", "nowhere/m: No such file or directory"},
      {"folder", "folder: Is a directory"},
      {"link_to_folder", "link_to_folder: Is a directory"},
      {"file/m", "file/m: Not a directory"},
      {"link_to_nowhere", "link_to_nowhere: No such file or directory"},
      {"loop", "loop: Too many levels of symbolic links"},
  };
  // As root, every folder can be written.
  if (geteuid() != 0) cases.push_back({"locked/m", "locked/m: Permission denied"});
  TempDir dir;
  dir.write("file", "x");
  fs::create_directory(dir.path("folder"));
  fs::create_directory(dir.path("locked"));
  fs::permissions(dir.path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  fs::create_symlink("file", dir.path("link_to_file"));
  fs::create_symlink("new", dir.path("link_to_new"));
  fs::create_symlink("folder", dir.path("link_to_folder"));
  fs::create_symlink("nowhere/m", dir.path("link_to_nowhere"));
  fs::create_symlink("loop", dir.path("loop"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const bool device = c.path.starts_with('/');
    const std::string path = device ? c.path : dir.path(c.path);
    const std::string detail = c.detail.empty() ? "" : dir.path(c.detail);
    EXPECT_EQ(failure_of([&] { check_writable(path, "can not write"); }), detail);
    if (device) continue;  // never written here
    // The writing itself fails with the same words.
    EXPECT_EQ(failure_of([&] { replace_file(path, "m\n", "can not write"); }), detail);
  }
  EXPECT_EQ(dir.read("file"), "m\n");
  EXPECT_EQ(dir.read("new"), "m\n");
  EXPECT_EQ(dir.read(longest), "m\n");
  EXPECT_TRUE(fs::is_symlink(dir.path("link_to_file")));
  fs::permissions(dir.path("locked"), fs::perms::owner_all);
}

// A signal that ends the process while files are staged leaves the earlier files and nothing of
// the run's: an unnamed stand-in goes with the process, even when killed outright; a named one is
// removed by the signals that ask a process to end.
TEST(StagedFiles, ASignalThatEndsTheRunLeavesNothingOfItsOwn) {
  struct Case {
    bool unnamed;
    int signal;
  };
  for (const Case c : {Case{true, SIGKILL}, Case{true, SIGTERM}, Case{false, SIGTERM},
                       Case{false, SIGINT}, Case{false, SIGHUP}}) {
    SCOPED_TRACE(std::string(c.unnamed ? "unnamed, " : "named, ") + strsignal(c.signal));
    TempDir dir;
    dir.write("m", "earlier\n");
    const pid_t child = fork();
    if (child == 0) {
      std::signal(c.signal, SIG_DFL);  // also where the test runs with it ignored
      allow_unnamed_files(c.unnamed);
      StagedFiles files("can not write");
      files.add(dir.path("m")).write("new\n");
      files.add(dir.path("n")).write("new\n");
      raise(c.signal);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.root())) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"m"});
    EXPECT_EQ(dir.read("m"), "earlier\n");
  }
}

}  // namespace
}  // namespace punb
