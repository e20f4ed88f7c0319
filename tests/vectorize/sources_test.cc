#include "vectorize/sources.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace punb::vectorize {
namespace {

struct Entry {
  enum Kind { file, folder, link, fifo } kind;
  const char* name;
  const char* target = "";  // of a link
};

struct ListingCase {
  const char* what;
  std::vector<Entry> entries;
  std::vector<std::string> listed;  // relative to the folder, in order
  std::size_t warnings;
};

// A folder lists the regular files below it, also through links to files, in byte order of
// their relative paths; links to folders are not followed, dangling links and other kinds of
// file are passed over, and a name with a line break is named in a warning.
TEST(ListInputs, AFolderListsItsRegularFilesInByteOrder) {
  const ListingCase cases[] = {
      {"files and folders",
       {{Entry::file, "b"},
        {Entry::folder, "a"},
        {Entry::file, "a/z"},
        {Entry::file, "B"},
        {Entry::folder, "a/c"},
        {Entry::file, "a/c/d"},
        {Entry::folder, "empty"}},
       {"B", "a/c/d", "a/z", "b"},
       0},
      {"links",
       {{Entry::file, "f"},
        {Entry::folder, "d"},
        {Entry::file, "d/g"},
        {Entry::link, "to-f", "f"},
        {Entry::link, "to-d", "d"},
        {Entry::link, "gone", "nothing"}},
       {"d/g", "f", "to-f"},
       0},
      {"other kinds and names",
       {{Entry::fifo, "pipe"}, {Entry::file, "line\nbreak"}, {Entry::file, "x"}},
       {"x"},
       1},
  };
  for (const ListingCase& c : cases) {
    SCOPED_TRACE(c.what);
    const test::TempDir dir;
    const std::string root = dir.path("in");
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    for (const Entry& e : c.entries) {
      const std::string path = root + "/" + e.name;
      switch (e.kind) {
        case Entry::file:
          dir.write(std::string("in/") + e.name, "text");
          break;
        case Entry::folder:
          ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
          break;
        case Entry::link:
          ASSERT_EQ(symlink(e.target, path.c_str()), 0);
          break;
        case Entry::fifo:
          ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
          break;
      }
    }
    std::vector<std::string> warnings;
    const std::vector<InputFile> inputs =
        list_inputs({{root, SetKind::unlabeled, 0}, {root + "/", SetKind::test, 1}}, warnings);
    std::vector<std::string> listed;
    for (const std::string& name : c.listed) listed.push_back(root + "/" + name);
    ASSERT_EQ(inputs.size(), 2 * listed.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      EXPECT_EQ(inputs[i].path, listed[i % listed.size()]);
      EXPECT_EQ(inputs[i].set, i < listed.size() ? SetKind::unlabeled : SetKind::test);
      EXPECT_EQ(inputs[i].label, i < listed.size() ? 0 : 1);
      EXPECT_TRUE(inputs[i].whole_document);
    }
    EXPECT_EQ(warnings.size(), 2 * c.warnings);
  }
}

}  // namespace
}  // namespace punb::vectorize
