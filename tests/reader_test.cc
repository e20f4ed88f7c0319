#include "docfile/reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "docfile/copy_lines.h"
#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "test_support.h"

namespace punb {
namespace {

std::vector<std::string> read_all(const std::string& path) {
  DocumentReader reader(path, "can not read it");
  std::vector<std::string> lines;
  Line line;
  while (reader.next(line)) {
    lines.emplace_back(line.data, line.size);
    EXPECT_EQ(reader.line_number(), static_cast<std::int64_t>(lines.size()));
  }
  return lines;
}

struct ReadCase {
  const char* name;
  std::string content;
  std::vector<std::string> lines;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ReadTable : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadTable, HandsOutEachLineOnce) {
  test::TempDir dir;
  const std::string path = dir.write("f", GetParam().content);
  EXPECT_EQ(read_all(path), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadTable,
    ::testing::Values(ReadCase{"empty_file", "", {}}, ReadCase{"lone_newline", "\n", {"\n"}},
                      ReadCase{"final_newline", "a\nb\n", {"a\n", "b\n"}},
                      ReadCase{"no_final_newline", "a\nb", {"a\n", "b"}},
                      ReadCase{"empty_lines_between", "a\n\n\nb\n", {"a\n", "\n", "\n", "b\n"}},
                      ReadCase{"crlf_kept", "a\r\nb\r\n", {"a\r\n", "b\r\n"}},
                      ReadCase{
                          "nul_kept", std::string("a\0b\nc", 5), {std::string("a\0b\n", 4), "c"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Reader, ReadsLinesLongerThanItsBufferWhole) {
  test::TempDir dir;
  const std::string long_line(10'000'000, '7');
  const std::string path = dir.write("f", "1:2\n" + long_line + "\n3:4");
  const auto lines = read_all(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], long_line + "\n");
  EXPECT_EQ(lines[2], "3:4");
}

TEST(Reader, KeepsLinesIntactAcrossBufferRefills) {
  test::TempDir dir;
  std::string content;
  std::vector<std::string> expected;
  for (int i = 0; i < 700'000; ++i) {
    expected.push_back(std::to_string(i) + ":" + std::to_string(i % 97) + "\n");
    content += expected.back();
  }
  EXPECT_EQ(read_all(dir.write("f", content)), expected);
}

TEST(CopyLines, AFileShorterThanItsCountIsAnErrorNotARepeat) {
  test::TempDir dir;
  const std::string path = dir.write("f", "a\nb\n");
  OutFile out(dir.path("copy"), "can not write");
  DocumentReader in(path, "can not read training set");
  try {
    copy_document_lines(in, 3, [&](std::int64_t) -> OutFile& { return out; });
    FAIL() << "three lines copied from a file of two";
  } catch (const Fatal& e) {
    EXPECT_EQ(e.message(), "can not read training set");
    EXPECT_NE(e.detail().find("changed during the run"), std::string::npos) << e.detail();
  }
  out.close();
  EXPECT_EQ(dir.read("copy"), "a\nb\n");
}

}  // namespace
}  // namespace punb
