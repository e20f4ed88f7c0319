// A working file is copied line for line by counts taken at the first read; a file that changed
// meanwhile must stop the run, not repeat or drop lines.
#include "docfile/reader.h"

#include <gtest/gtest.h>

#include <string>

#include "docfile/copy_lines.h"
#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "test_support.h"

namespace punb {
namespace {

TEST(CopyLines, AFileShorterThanItsCountIsAnErrorNotARepeat) {
  test::TempDir dir;
  dir.write("f", "a\nb");
  OutFile out(dir.path("copy"), "can not write");
  DocumentReader in(dir.path("f"), "can not read training set");
  try {
    copy_document_lines(in, 3, [&](std::int64_t) -> OutFile& { return out; });
    FAIL() << "three lines copied from a file of two";
  } catch (const Fatal& e) {
    EXPECT_EQ(e.message(), "can not read training set");
    EXPECT_NE(e.detail().find("f:2: the file changed during the run"), std::string::npos)
        << e.detail();
  }
  out.close();
  EXPECT_EQ(dir.read("copy"), "a\nb");
}

}  // namespace
}  // namespace punb
