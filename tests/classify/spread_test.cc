// punb-classify's run on several processes, with the processes as threads of this one: the
// pieces whose edges whole runs of this size do not reach (the lines held back as one process
// holds them, the spills that keep a process's lines, exchanges in rounds, the output in process
// order, the shared sources) and whole
// runs (the ranking across processes, the shares of text among them), each against what one
// process does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "classify/classify_inputs.h"
#include "classify/lines.h"
#include "classify/options.h"
#include "classify/run.h"
#include "classify/shared_output.h"
#include "classify/sources.h"
#include "docfile/fatal.h"
#include "peers/local_peers.h"
#include "test_support.h"

namespace punb::classify {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Runs work(peers) on `processes` threads standing in for processes; fails on any exception.
void on_group(int processes, const std::function<void(Peers&)>& work) {
  LocalGroup group(processes);
  const auto errors = group.run(work);
  for (std::size_t r = 0; r < errors.size(); ++r) {
    if (!errors[r]) continue;
    try {
      std::rethrow_exception(errors[r]);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "process " << r << ": " << e.what();
    }
  }
}

// Lines of `lengths` bytes each (line end included), numbered so that no two are alike.
std::string lines_of_lengths(const std::vector<std::size_t>& lengths) {
  std::string text;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    std::string line = std::to_string(i) + ":";
    line.resize(lengths[i] - 1, 'x');
    text += line + "\n";
  }
  return text;
}

// Standard output written a line at a time, as one process writes its lines.
std::vector<std::string> written_alone(const std::string& text) {
  std::vector<std::string> writes;
  std::string held;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at) + 1;
    held.append(text, at, end - at);
    at = end;
    if (held.size() >= kFlushBytes) {
      writes.push_back(held);
      held.clear();
    }
  }
  writes.push_back(held);  // at the end; not written when the run ends on a fault
  return writes;
}

// However the lines come in, the sink writes the runs one process writes.
TEST(LineSink, WritesWhatOneProcessWritesHoweverTheLinesCome) {
  const std::vector<std::vector<std::size_t>> cases = {
      {20, 20, 20},
      std::vector<std::size_t>(60000, 21),
      {kFlushBytes - 1, 1, 5, kFlushBytes, 7, 2 * kFlushBytes + 3, 9},
      {kFlushBytes + 10, 3},
  };
  for (const auto& lengths : cases) {
    const std::string text = lines_of_lengths(lengths);
    for (std::size_t chunk : {std::size_t{1} << 30, std::size_t{1} << 20, std::size_t{4099}}) {
      SCOPED_TRACE(std::to_string(lengths.size()) + " lines, chunks of " + std::to_string(chunk));
      std::vector<std::string> writes;
      LineSink sink([&](std::string_view t) { writes.emplace_back(t); }, false);
      for (std::size_t at = 0; at < text.size(); at += chunk)
        sink.take(std::string_view(text).substr(at, chunk));
      std::vector<std::string> expected = written_alone(text);
      const std::string last = expected.back();
      expected.pop_back();
      EXPECT_EQ(writes.size(), expected.size());
      EXPECT_TRUE(writes == expected);
      sink.finish();
      if (!last.empty()) expected.push_back(last);
      EXPECT_TRUE(writes == expected);
    }
  }
  // Blocks written as they come.
  std::vector<std::string> writes;
  LineSink at_once([&](std::string_view t) { writes.emplace_back(t); }, true);
  at_once.take("0.5\n");
  at_once.take("0.25\n");
  EXPECT_EQ(writes, (std::vector<std::string>{"0.5\n", "0.25\n"}));
}

// What a spill holds reads back whole and in order, however it was written and read.
TEST(Spill, ReadsBackWhatWasWritten) {
  std::string all;
  Spill spill;
  // Pieces held, pieces that fill the buffer, pieces larger than it.
  for (std::size_t n : {0, 1, 7, 300000, 5, 262144, 262143, 2}) {
    std::string piece;
    for (std::size_t i = 0; i < n; ++i) piece += static_cast<char>('a' + (all.size() + i) % 23);
    spill.write(piece);
    all += piece;
  }
  EXPECT_EQ(spill.size(), all.size());
  for (std::size_t chunk : {std::size_t{3}, std::size_t{4096}, kSpillChunk}) {
    Spill::Reader in(spill, chunk);
    std::string got;
    std::size_t n = 1;
    for (const char* at; (at = in.take(n)); n = n % 9 + 1) got.append(at, n);
    EXPECT_TRUE(got == all.substr(0, got.size()));
    EXPECT_LT(all.size() - got.size(), n);
  }
  std::string piece;
  EXPECT_EQ(spill.read(all.size() - 4, 10, piece), all.substr(all.size() - 4));
  spill.clear();
  EXPECT_EQ(spill.size(), 0u);
  EXPECT_EQ(Spill::Reader(spill).take(1), nullptr);
  EXPECT_FALSE(spill.failure());
}

// Every process's texts reach their processes whole, in process order, in rounds of any size.
TEST(ExchangeInRounds, DeliversEveryTextWholeInProcessOrder) {
  for (int processes : {1, 2, 3}) {
    for (std::size_t round : {std::size_t{1}, std::size_t{7}, kRoundBytes}) {
      std::vector<std::vector<std::string>> got(static_cast<std::size_t>(processes));
      on_group(processes, [&](Peers& peers) {
        std::vector<std::string> to_each;
        for (int r = 0; r < processes; ++r)
          to_each.push_back(std::string(static_cast<std::size_t>(5 * peers.rank() + r),
                                        static_cast<char>('a' + r)) +
                            std::to_string(peers.rank()));
        got[static_cast<std::size_t>(peers.rank())] = exchange_in_rounds(peers, to_each, round);
        EXPECT_EQ(counts_of_all(peers, 10 + peers.rank()).back(), 9 + processes);
      });
      for (int to = 0; to < processes; ++to) {
        for (int from = 0; from < processes; ++from) {
          EXPECT_EQ(
              got[static_cast<std::size_t>(to)][static_cast<std::size_t>(from)],
              std::string(static_cast<std::size_t>(5 * from + to), static_cast<char>('a' + to)) +
                  std::to_string(from));
        }
      }
    }
  }
}

// The processes' lines go out in process order, to standard output a chunk at a time or into the
// -o file at their places, which takes its name only when all is written.
TEST(InOrderOutput, WritesEveryProcessesLinesInProcessOrder) {
  for (int processes : {2, 3, 4}) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{6}, kRoundBytes}) {
      SCOPED_TRACE(std::to_string(processes) + " processes, chunks of " + std::to_string(chunk));
      TempDir dir;
      std::string expected;
      for (int write = 0; write < 3; ++write)
        for (int r = 0; r < processes; ++r)
          if ((write + r) % 3 != 0)
            expected += std::to_string(write) + " from " + std::to_string(r) + "\n";
      std::string printed;
      bool named_early = false;
      for (const bool to_file : {false, true}) {
        on_group(processes, [&](Peers& peers) {
          const std::optional<std::string> path =
              to_file ? std::optional<std::string>(dir.path("out")) : std::nullopt;
          InOrderOutput out(
              peers, path, false, [&](std::string_view t) { printed += t; }, chunk);
          for (int write = 0; write < 3; ++write) {
            Spill mine;
            if ((write + peers.rank()) % 3 != 0)
              mine.write(std::to_string(write) + " from " + std::to_string(peers.rank()) + "\n");
            out.write(mine);
          }
          peers.wait_for_all();
          if (peers.leads()) named_early = dir.exists("out");
          out.finish();
        });
      }
      EXPECT_EQ(printed, expected);
      EXPECT_FALSE(named_early);
      EXPECT_EQ(dir.read("out"), expected);
      EXPECT_EQ(std::distance(fs::directory_iterator(dir.root()), fs::directory_iterator()), 1);
    }
  }
  // A run that ends before the output is complete leaves no file behind, under either name.
  TempDir dir;
  LocalGroup group(3);
  group.run([&](Peers& peers) {
    InOrderOutput out(peers, dir.path("out"), false, [](std::string_view) {});
    out.write("a line\n");
    throw std::runtime_error("the run ends");
  });
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.root()), fs::directory_iterator()), 0);
}

// The sources of any documents, asked for in any order of calls or read in turn, from files cut
// anywhere among the processes; the first file that cannot be read ends what can be used.
TEST(SharedSources, HandEachDocumentItsLine) {
  TempDir dir;
  dir.write("a", "s0\ns1\r\ns2\n");
  dir.write("b", "");
  dir.write("c", "s3\n\ns5 with spaces\ns6\ns7\ns8\ns9 without end");
  fs::create_directories(dir.path("folder"));
  const std::vector<std::string> lines = {
      "s0", "s1", "s2", "s3", "", "s5 with spaces", "s6", "s7", "s8", "s9 without end"};
  const std::vector<std::string> wheres = {"a:1", "a:2", "a:3", "c:1", "c:2",
                                           "c:3", "c:4", "c:5", "c:6", "c:7"};
  const std::vector<std::vector<std::uint64_t>> asks = {
      {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {9}, {}, {1, 3, 4, 8}, {0, 5}, {2, 3, 4, 5}};
  for (int processes : {1, 2, 3, 4, 5}) {
    SCOPED_TRACE(std::to_string(processes) + " processes");
    on_group(processes, [&](Peers& peers) {
      SharedSources sources({dir.path("a"), dir.path("b"), dir.path("c")}, peers);
      EXPECT_EQ(sources.usable(), 10u);
      EXPECT_FALSE(sources.unreadable());
      for (std::uint64_t n = 0; n < 10; ++n) EXPECT_EQ(sources.where(n), dir.path(wheres[n]));
      // Each process asks for its own documents, every process for some in turn.
      for (std::size_t k = 0; k < asks.size(); ++k) {
        const bool mine = static_cast<int>(k) % processes == peers.rank();
        const std::vector<std::uint64_t> none;
        const std::vector<std::string> got = sources.fetch(mine ? asks[k] : none);
        std::vector<std::string> expected;
        for (std::uint64_t n : mine ? asks[k] : none) expected.push_back(lines[n]);
        EXPECT_EQ(got, expected);
        // Read by the process itself, from wherever the first one lies.
        SharedSources::Cursor cursor(sources);
        for (std::uint64_t n : asks[k]) EXPECT_EQ(cursor.at(n), lines[n]) << n;
      }
    });
    for (const auto& [bad, detail] : std::vector<std::pair<std::string, std::string>>{
             {"missing", "missing: No such file or directory"},
             {"folder", "folder: Is a directory"}}) {
      on_group(processes, [&](Peers& peers) {
        SharedSources sources({dir.path("a"), dir.path(bad), dir.path("c")}, peers);
        EXPECT_EQ(sources.usable(), 3u);
        ASSERT_TRUE(sources.unreadable());
        EXPECT_EQ(sources.unreadable()->message(), "can not read sources");
        EXPECT_EQ(sources.unreadable()->detail(), dir.path(detail));
        EXPECT_EQ(sources.fetch({2}), std::vector<std::string>{"s2"});
      });
    }
  }
}

// What a whole run leaves: standard output, its fault, the log and the -o file.
struct Outcome {
  std::string out;
  std::string fault;
  std::string log;
  std::string file;
};

const TempDir& inputs() {
  static const TempDir dir;
  static const bool made = test::make_classify_inputs(dir);
  EXPECT_TRUE(made);
  return dir;
}

Outcome run_on(int processes, const std::vector<std::string>& args) {
  const TempDir& dir = inputs();
  const fs::path before = fs::current_path();
  fs::current_path(dir.root());
  Outcome o;
  std::vector<std::string> faults(static_cast<std::size_t>(processes));
  std::ostringstream log;
  testing::internal::CaptureStdout();
  auto work = [&](Peers& peers) {
    try {
      run(parse_options(args), log, peers);
    } catch (const Fatal& f) {
      faults[static_cast<std::size_t>(peers.rank())] = f.message() + "\t" + f.detail();
    }
  };
  if (processes == 1) {
    SoloPeers alone;
    work(alone);
  } else {
    on_group(processes, work);
  }
  std::fflush(stdout);
  o.out = testing::internal::GetCapturedStdout();
  fs::current_path(before);
  for (const std::string& f : faults) EXPECT_EQ(f, faults[0]) << "every process, one fault";
  o.fault = faults[0];
  o.log = log.str();
  o.file = dir.exists("out") ? dir.read("out") : "<absent>";
  fs::remove(dir.path("out"));
  return o;
}

// Whole runs on two to four processes, with one and two threads in turn, give what one process
// gives, faults included.
TEST(SpreadRun, SameAsOneProcess) {
  const std::vector<std::vector<std::string>> runs = {
      {"m", "c.unlabel", "c.test"},
      {"m", "--labeled", "c.test", "-o", "out"},
      {"m", "--ids", "a.ids", "--ids", "b.ids", "--ids", "e.ids", "--ids", "c.ids", "--min", "0.3",
       "c.unlabel", "c.pos"},
      {"m", "--rank", "--explain", "2", "--ids", "all.ids", "c.unlabel"},
      {"m", "--top", "5", "ties", "-o", "out"},
      {"m", "--words", "3"},
      {"m", "--ids", "short.ids", "c.unlabel"},
      {"m", "--ids", "long.ids", "c.unlabel"},
      {"m", "--ids", "long.ids", "--top", "3", "c.unlabel"},
      {"m", "--ids", "a.ids", "--ids", "missing.ids", "c.unlabel"},
      {"m", "c.pos", "bad.last", "--explain", "1"},
      {"m", "bad.first", "-o", "out"},
      {"t", "--text", "new", "lines.txt", "--rank"},
      {"t", "--text", "lines.txt", "new", "--explain", "3"},
      {"t", "--text", "new", "-o", "out", "--min", "0.4"},
  };
  int turn = 0;
  for (std::vector<std::string> args : runs) {
    args.insert(args.end(), {"-j", turn++ % 2 ? "2" : "1"});
    std::string name;
    for (const std::string& a : args) name += a + " ";
    SCOPED_TRACE(name);
    const Outcome one = run_on(1, args);
    for (int processes : {2, 3, 4}) {
      SCOPED_TRACE(std::to_string(processes) + " processes");
      const Outcome many = run_on(processes, args);
      EXPECT_TRUE(many.out == one.out) << many.out.substr(0, 1000);
      EXPECT_EQ(many.fault, one.fault);
      EXPECT_EQ(many.log, one.log);
      EXPECT_TRUE(many.file == one.file);
    }
  }
}

}  // namespace
}  // namespace punb::classify
