// Staged output files: a name the run did not create is never removed, and a model's path is
// judged before a run as its writing would judge it after.
#include "docfile/staged.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
  TempDir dir;
  dir.write("m", "earlier\n");
  // Every temporary name this process could take is another's already.
  std::vector<std::string> taken;
  for (int attempt = 0; attempt <= 100; ++attempt) {
    taken.push_back("m.tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt));
    dir.write(taken.back(), "another's\n");
  }
  EXPECT_EQ(failure_of([&] { replace_file(dir.path("m"), "new\n", "can not write"); }),
            dir.path("m") + ": File exists");
  EXPECT_EQ(dir.read("m"), "earlier\n");
  for (const std::string& name : taken) EXPECT_EQ(dir.read(name), "another's\n") << name;
}

}  // namespace
}  // namespace punb
