// A working file is copied line for line by counts taken at the first read; a file that changed
// meanwhile must stop the run, not repeat or drop lines. A file read in pieces by several threads
// must give the documents, and the first fault, that one reading front to back gives.
#include "docfile/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "docfile/copy_lines.h"
#include "docfile/docstore.h"
#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/pieces.h"
#include "docfile/workpool.h"
#include "test_support.h"

namespace punb {
namespace {

TEST(CopyLines, AFileShorterThanItsCountIsAnErrorNotARepeat) {
  for (unsigned threads : {1u, 2u, 3u}) {
    WorkerPool pool(threads);
    test::TempDir dir;
    dir.write("f", "a\nb");
    OutFile out(dir.path("copy"), "can not write");
    PieceReader in(dir.path("f"), "can not read training set");
    try {
      copy_document_lines(in, 3, pool, [&](std::int64_t, std::string_view t) { out.write(t); });
      ADD_FAILURE() << "three lines copied from a file of two";
    } catch (const Fatal& e) {
      EXPECT_EQ(e.message(), "can not read training set");
      EXPECT_NE(e.detail().find("f:2: the file changed during the run"), std::string::npos)
          << e.detail();
    }
    out.close();
    EXPECT_EQ(dir.read("copy"), "a\nb");
  }
}

// Lines go to the file chosen for their number, in order, over many windows of pieces and at
// every thread count; lines past the count are left out.
TEST(CopyLines, EachLineToItsFileInOrder) {
  std::mt19937 random(5);
  std::string text;
  std::vector<std::string> line_texts;
  for (int i = 0; i < 120000; ++i) {  // several windows of pieces of 512 kB
    std::string line(random() % 90, 'x');
    for (char& c : line) c = static_cast<char>('a' + random() % 26);
    line += '\n';
    line_texts.push_back(line);
    text += line;
  }
  text += "last line without a line end";
  line_texts.push_back("last line without a line end");
  for (unsigned threads : {1u, 2u, 4u}) {
    for (const std::int64_t lines :
         {std::int64_t{0}, std::int64_t{7}, static_cast<std::int64_t>(line_texts.size())}) {
      WorkerPool pool(threads);
      test::TempDir dir;
      dir.write("f", text);
      {
        OutFile odd(dir.path("odd"), "can not write");
        OutFile rest(dir.path("rest"), "can not write");
        PieceReader in(dir.path("f"), "can not read training set");
        copy_document_lines(in, lines, pool, [&](std::int64_t i, std::string_view t) {
          (i % 3 == 1 ? odd : rest).write(t);
        });
        odd.close();
        rest.close();
      }
      std::string odd;
      std::string rest;
      for (std::int64_t i = 0; i < lines; ++i) {
        (i % 3 == 1 ? odd : rest) += line_texts[static_cast<std::size_t>(i)];
      }
      EXPECT_EQ(dir.read("odd"), odd) << threads << " threads, " << lines << " lines";
      EXPECT_EQ(dir.read("rest"), rest) << threads << " threads, " << lines << " lines";
    }
  }
}

TEST(WorkerPool, EveryTaskOnceAndTheLowestFailureRethrown) {
  for (unsigned threads : {1u, 2u, 5u}) {
    WorkerPool pool(threads);
    std::vector<int> runs(300);
    pool.run(runs.size(), [&](std::size_t i, unsigned worker) {
      ASSERT_LT(worker, threads);
      ++runs[i];
    });
    EXPECT_EQ(std::count(runs.begin(), runs.end(), 1), 300) << threads;
    std::vector<int> before(40);
    try {
      pool.run(before.size(), [&](std::size_t i, unsigned) {
        if (i == 17 || i == 30) throw Fatal("task " + std::to_string(i), "");
        ++before[i];
      });
      ADD_FAILURE() << "no failure rethrown";
    } catch (const Fatal& e) {
      EXPECT_EQ(e.message(), "task 17") << threads;
    }
    EXPECT_EQ(std::count(before.begin(), before.begin() + 17, 1), 17) << threads;
  }
}

// The documents of a store, or the fault that stopped the reading, as one text.
std::string documents_of(const DocStore& docs) {
  std::string text;
  docs.for_each([&](const DocStore::Document& doc) {
    doc.for_each_pair([&](std::uint32_t i, std::uint32_t c) {
      text += std::to_string(i) + ":" + std::to_string(c) + " ";
    });
    text += "\n";
  });
  return text;
}

std::string read_front_to_back(const std::string& path) {
  DocStore docs;
  try {
    DocumentParser parser(path, "can not read", false);
    auto keep = [&](std::int32_t index, std::int32_t count) { docs.add_pair(index, count); };
    for (docs.begin_document(); parser.next(keep); docs.begin_document()) docs.end_document();
    docs.discard_document();
  } catch (const Fatal& e) {
    return e.message() + " " + e.detail();
  }
  return documents_of(docs);
}

std::string read_in_pieces(const std::string& path, unsigned threads, std::size_t piece_bytes) {
  WorkerPool pool(threads);
  DocStore docs;
  try {
    PieceReader in(path, "can not read");
    SoloPeers alone;
    read_document_store(in, pool, alone, docs, piece_bytes);
  } catch (const Fatal& e) {
    return e.message() + " " + e.detail();
  }
  return documents_of(docs);
}

TEST(PieceReading, SameDocumentsAndFirstFaultForRandomPieceSizes) {
  test::TempDir dir;
  test::generate_corpus(
      dir, "c", "--pos 150 --unlabel 1 --test 1 --vocab 3000 --words 12 --odd 0.4 --seed 7");
  const std::string good = dir.read("c.pos") + "\n\n7:1\t8:2 9:3\r\n" + std::string(3000, ' ') +
                           "5:5 -1:-1 6:6\n1:1 2:2";
  std::mt19937 random(11);
  for (int round = 0; round < 40; ++round) {
    std::string text = good;
    if (round % 2 == 1) {  // a fault on a random line, and a second one later
      std::size_t at = random() % text.size();
      at = text.find('\n', at);
      if (at == std::string::npos) at = text.size() - 1;
      text.insert(at + 1, round % 4 == 1 ? "3:-2\n" : "1:1 500000:1\n4:-1\n");
    }
    dir.write("f", text);
    const std::size_t piece_bytes = 1 + random() % (round < 20 ? 64 : 4096);
    const unsigned threads = 1 + random() % 4;
    SCOPED_TRACE("round " + std::to_string(round) + ", pieces of " + std::to_string(piece_bytes) +
                 " bytes, " + std::to_string(threads) + " threads");
    EXPECT_EQ(read_in_pieces(dir.path("f"), threads, piece_bytes),
              read_front_to_back(dir.path("f")));
  }
}

}  // namespace
}  // namespace punb
