// Files written complete or not at all: a failure leaves the earlier file and no temporary one; a
// device is written in place, since renaming over it would destroy it.
#include "docfile/staged.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "docfile/fatal.h"
#include "test_support.h"

namespace punb {
namespace {

std::size_t files_in(const test::TempDir& dir) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir.root()),
                                                std::filesystem::directory_iterator()));
}

TEST(StagedFiles, ReplaceWholeOrNotAtAll) {
  test::TempDir dir;
  dir.write("a", "earlier a\n");
  dir.write("b", "earlier b\n");
  {
    StagedFiles files("can not write");
    files.add(dir.path("a")).write("new a\n");
    files.add(dir.path("b")).write("new b\n");
    EXPECT_EQ(dir.read("a"), "earlier a\n");  // nothing shows before the commit
    EXPECT_EQ(files_in(dir), 4u);
  }  // dropped without a commit, as when a run fails
  EXPECT_EQ(dir.read("a"), "earlier a\n");
  EXPECT_EQ(files_in(dir), 2u);

  StagedFiles files("can not write");
  files.add(dir.path("a")).write("new a\n");
  files.add(dir.path("c")).write("new c\n");
  files.commit();
  EXPECT_EQ(dir.read("a"), "new a\n");
  EXPECT_EQ(dir.read("c"), "new c\n");
  EXPECT_EQ(files_in(dir), 3u);
}

TEST(StagedFiles, FailuresNameTheUsersPath) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.path("folder"));
  struct Case {
    std::string path;
    const char* detail;
  };
  const Case cases[] = {
      {dir.path("folder"), ": Is a directory"},
      {dir.path("missing/x"), ": No such file or directory"},
      {"/dev/full", ": No space left on device"},
  };
  for (const Case& c : cases) {
    try {
      replace_file(c.path, "text", "can not write");
      ADD_FAILURE() << c.path;
    } catch (const Fatal& e) {
      EXPECT_EQ(e.message(), "can not write");
      EXPECT_EQ(e.detail(), c.path + c.detail);
    }
  }
  replace_file("/dev/null", "text", "can not write");  // a device is written, not replaced
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
  EXPECT_EQ(files_in(dir), 1u);
}

}  // namespace
}  // namespace punb
