// The many-process path of a run, with the processes as threads of this one (the in-process
// stand-in of MPI): every output byte, the printed reports and the faults must be those of one
// process, at every number of processes, and wherever in the inputs the shares are cut.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "app/options.h"
#include "app/run.h"
#include "docfile/fatal.h"
#include "docfile/shared_out.h"
#include "peers/local_peers.h"
#include "peers_conformance.h"
#include "test_support.h"

namespace punb {
namespace {

using test::TempDir;

// The in-process stand-in does what MPI does, and a failing process ends the others' waits.
TEST(LocalGroup, DoesWhatPeersMustDo) {
  for (int processes : {1, 2, 3, 4}) {
    LocalGroup group(processes);
    std::vector<std::string> wrong(static_cast<std::size_t>(processes));
    const auto errors = group.run([&](Peers& peers) {
      wrong[static_cast<std::size_t>(peers.rank())] = test::check_peers(peers);
    });
    for (int r = 0; r < processes; ++r) {
      EXPECT_FALSE(errors[static_cast<std::size_t>(r)]);
      EXPECT_EQ(wrong[static_cast<std::size_t>(r)], "") << processes << " processes";
    }
  }
  SoloPeers alone;
  EXPECT_EQ(test::check_peers(alone), "");
  LocalGroup group(3);
  const auto errors = group.run([](Peers& peers) {
    if (peers.rank() == 1) throw std::runtime_error("process 1 fails alone");
    peers.wait_for_all();
  });
  EXPECT_TRUE(errors[1]);
  for (int r : {0, 2}) {
    EXPECT_THROW(std::rethrow_exception(errors[static_cast<std::size_t>(r)]), PeerLost);
  }
}

// A file every process writes a part of, on a file system that fills up: the process whose
// write fails is the first, after the others wrote their later parts. Every process ends on the
// write error, and the file is cut where the failed write began: what is left is what one process
// would have written up to there, never a gap of NUL bytes.
TEST(SharedOutFile, AFailedWriteLeavesNoGapBehindTheOthers) {
  TempDir dir;
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  if (mount("tmpfs", dir.root().c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "no small file system: " << std::strerror(errno);
  struct Unmount {
    const std::string& at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{dir.root()};
  const std::string path = dir.path("f");
  auto part = [](int rank) { return std::string(24 << 10, static_cast<char>('a' + rank)); };
  LocalGroup group(3);
  const auto errors = group.run([&](Peers& peers) {
    SharedOutFile file(peers, path, "can not open", "can not write");
    const std::string mine = part(peers.rank());
    const std::int64_t at = file.take_room(static_cast<std::int64_t>(mine.size()));
    for (int turn = peers.size() - 1; turn >= 0; --turn) {
      if (peers.rank() == turn) file.write_at(at, mine);
      peers.wait_for_all();
    }
    file.close();
  });
  for (const std::exception_ptr& e : errors) {
    try {
      std::rethrow_exception(e);
    } catch (const Fatal& f) {
      EXPECT_EQ(f.message(), "can not write");
    } catch (...) {
      ADD_FAILURE() << "another fault than the write error, or none";
    }
  }
  const std::string left = dir.read("f");
  EXPECT_LT(left.size(), std::size_t{24} << 10);
  EXPECT_EQ(left, part(0).substr(0, left.size()));
}

const char* const kOutputs[] = {"c.output",          "c.log",          "spy",    "pos_withoutspy",
                                "truetrain1matrix0", "unlabelmatrix0", "m.model"};

// What a run left: its standard output, its fault, and every file it may write.
struct Outcome {
  std::string out;
  std::string fault;  // message, a tab, detail
  std::vector<std::string> files;
};

// Runs punb's command line in `dir` on `processes` processes (threads standing in for them).
Outcome run_in(const TempDir& dir, std::vector<std::string> args, int processes) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.root());
  args.insert(args.end(), {"-f", "c", "--model", "m.model"});
  Outcome o;
  testing::internal::CaptureStdout();
  std::vector<std::string> faults(static_cast<std::size_t>(processes));
  LocalGroup group(processes);
  const auto errors = group.run([&](Peers& peers) { run_mode(scan_options(args), peers); });
  std::fflush(stdout);
  o.out = testing::internal::GetCapturedStdout();
  std::filesystem::current_path(before);
  // Every process ends on the same fault, none because another ended.
  for (std::size_t r = 0; r < errors.size(); ++r) {
    if (!errors[r]) continue;
    try {
      std::rethrow_exception(errors[r]);
    } catch (const Fatal& f) {
      faults[r] = f.message() + "\t" + f.detail();
    } catch (const std::exception& e) {
      faults[r] = std::string("other: ") + e.what();
    }
  }
  for (const std::string& f : faults) EXPECT_EQ(f, faults[0]) << "every process, one fault";
  o.fault = faults[0];
  for (const char* f : kOutputs) o.files.push_back(dir.exists(f) ? dir.read(f) : "<absent>");
  return o;
}

void expect_same(const Outcome& one, const Outcome& many, int processes) {
  SCOPED_TRACE(std::to_string(processes) + " processes");
  EXPECT_EQ(many.out, one.out);
  EXPECT_EQ(many.fault, one.fault);
  for (std::size_t f = 0; f < one.files.size(); ++f) {
    EXPECT_TRUE(many.files[f] == one.files[f]) << kOutputs[f] << " differs";
  }
}

using Make = std::function<void(const TempDir&)>;

// Runs the case alone and on 2, 3 and 4 processes, each in a fresh copy of its inputs.
void expect_same_at_every_count(const Make& make, const std::vector<std::string>& args,
                                const char* threads = "1") {
  std::vector<std::string> with_threads = args;
  with_threads.insert(with_threads.end(), {"-j", threads});
  TempDir alone;
  make(alone);
  const Outcome one = run_in(alone, with_threads, 1);
  for (int processes : {2, 3, 4}) {
    TempDir dir;
    make(dir);
    expect_same(one, run_in(dir, with_threads, processes), processes);
  }
}

struct Corpus {
  const char* name;
  const char* options;
};

const Corpus kCorpora[] = {
    {"plain", "--pos 120 --unlabel 500 --test 90 --vocab 900 --words 14 --overlap 0.9 --seed 2"},
    {"odd_lines", "--pos 70 --unlabel 260 --test 60 --vocab 500 --words 9 --odd 0.3 --seed 7"},
    {"pairs_in_any_order",
     "--pos 60 --unlabel 200 --test 40 --vocab 3000 --words 120 --random-order --seed 11"},
};

const std::vector<std::string> kRuns[] = {
    {"-nb"},
    {"-kov"},
    {"-kov", "-s", "0.3", "-rt", "0.25", "-i", "3", "-l", "0.5"},
};

class GroupRun : public ::testing::TestWithParam<Corpus> {};

TEST_P(GroupRun, SameBytesAsOneProcess) {
  for (const auto& args : kRuns) {
    SCOPED_TRACE(args.size() > 1 ? "kov with options" : args[0]);
    expect_same_at_every_count(
        [&](const TempDir& d) { test::generate_corpus(d, "c", GetParam().options); }, args);
  }
}

INSTANTIATE_TEST_SUITE_P(Corpora, GroupRun, ::testing::ValuesIn(kCorpora),
                         [](const auto& info) { return std::string(info.param.name); });

// Two threads in each process, and more processes than some files have lines.
TEST(GroupRun, ThreadsInEachProcessAndTinyFiles) {
  auto make = [](const TempDir& d) {
    d.write("c.pos", "1:2 2:1\n3:1\n1:1 4:2\n");
    d.write("c.unlabel", "2:3\n5:1 1:1\n");
    d.write("c.test", "1 1:1\n-1 5:2\n");
  };
  expect_same_at_every_count(make, {"-kov", "-s", "0.4", "-i", "2"}, "2");
  expect_same_at_every_count(make, {"-nb"}, "2");
}

// Documents whose pairs come in and out of index order, repeat an index, or count past what one
// stored word holds, mixed: every process adds each pair to its word's sum where one process
// would.
TEST(GroupRun, PairsInAndOutOfOrderWithLargeCounts) {
  auto make = [](const TempDir& d) {
    std::mt19937 random(17);
    auto document = [&](bool label) {
      std::string line = label ? (random() % 2 ? "1 " : "-1 ") : "";
      const bool ascending = random() % 2;
      int index = 1;
      // Long enough on average for the processes to pass the counts on in several ranges.
      for (int k = 0, n = 1 + static_cast<int>(random() % 250); k < n; ++k) {
        index = ascending ? index + static_cast<int>(random() % 8)
                          : 1 + static_cast<int>(random() % 1000);
        const unsigned count = random() % 5 == 0 ? 8000 + random() % 100000 : 1 + random() % 4;
        line += std::to_string(index) + ":" + std::to_string(count) + " ";
      }
      return line + "\n";
    };
    for (const auto& [name, lines, label] :
         {std::tuple{"c.pos", 40, false}, {"c.unlabel", 150, false}, {"c.test", 30, true}}) {
      std::string text;
      for (int i = 0; i < lines; ++i) text += document(label);
      d.write(name, text);
    }
  };
  expect_same_at_every_count(make, {"-kov", "-i", "3"});
  expect_same_at_every_count(make, {"-kov", "-s", "0.5", "-rt", "0.5"}, "2");
}

// A fault in the first or the last process's share, or in several: every process ends on the
// first one in file order, with its line number counted through all shares, and the files hold
// what one process would have written up to it.
TEST(GroupRun, FirstFaultInFileOrderWhereverTheSharesAreCut) {
  const std::string good_unlabeled = [] {
    std::string t;
    for (int i = 0; i < 40; ++i)
      t += std::to_string(1 + i % 7) + ":" + std::to_string(1 + i % 3) + "\n";
    return t;
  }();
  struct Fault {
    const char* file;
    int line;  // 0-based line replaced by a bad one
    const char* bad;
  };
  const std::vector<std::vector<Fault>> cases = {
      {{"c.unlabel", 1, "5:1 600000:2"}},
      {{"c.unlabel", 38, "1:-4"}},
      {{"c.unlabel", 12, "3:1 -7:2"}, {"c.unlabel", 33, "1:-4"}},
      {{"c.pos", 0, "4:99999999999"}},
      {{"c.test", 9, "2 1:1"}},
      {{"c.test", 1, "0 1:1"}},
  };
  for (const char* mode : {"-nb", "-kov"}) {
    for (const auto& faults : cases) {
      SCOPED_TRACE(std::string(mode) + " " + faults[0].file + ":" + std::to_string(faults[0].line));
      auto make = [&](const TempDir& d) {
        std::string pos;
        std::string test;
        for (int i = 0; i < 12; ++i) pos += std::to_string(1 + i % 5) + ":2 6:1\n";
        for (int i = 0; i < 10; ++i)
          test += (i % 2 ? "1 " : "-1 ") + std::to_string(1 + i % 6) + ":1\n";
        std::map<std::string, std::string> text = {
            {"c.pos", pos}, {"c.unlabel", good_unlabeled}, {"c.test", test}};
        for (const Fault& f : faults) {
          std::string& t = text[f.file];
          std::size_t at = 0;
          for (int k = 0; k < f.line; ++k) at = t.find('\n', at) + 1;
          t.replace(at, t.find('\n', at) - at, f.bad);
        }
        for (const auto& [name, content] : text) d.write(name, content);
      };
      expect_same_at_every_count(make, {mode});
    }
  }
}

}  // namespace
}  // namespace punb
