#pragma once

// The generated corpora and the option sets that the runs of punb are compared on, against the
// straightforward implementation (one process) and against punb-mpi (many).

#include <ostream>
#include <string>
#include <vector>

namespace punb::test {

struct Corpus {
  const char* name;
  const char* generator_options;
};

struct Run {
  const char* name;
  std::vector<std::string> args;
};

inline const Corpus kCorpora[] = {
    {"overlapping",
     "--pos 300 --unlabel 1500 --test 300 --vocab 5000 --words 30 --overlap 0.9 --seed 1"},
    {"odd_lines",
     "--pos 250 --unlabel 900 --test 250 --vocab 3000 --words 20 --overlap 0.9 --odd 0.3 --seed 5"},
    {"steep_and_long",
     "--pos 60 --unlabel 300 --test 80 --vocab 400000 --words 400 --zipf 1.6 "
     "--overlap 0.7 --seed 9 --random-order"},
    {"mostly_positive_unlabeled",
     "--pos 200 --unlabel 600 --test 150 --vocab 2000 --words 15 "
     "--overlap 0.95 --unlabeled-pos-share 0.8 --odd 0.1 --seed 3"},
};

inline const Run kRuns[] = {
    {"naive_bayes", {"-nb"}},
    {"naive_bayes_weight", {"-nb", "-l", "2.5"}},
    {"defaults", {"-kov"}},
    {"options", {"-kov", "-s", "0.3", "-rt", "0.25", "-i", "3", "-l", "0.5"}},
    {"no_spies", {"-kov", "-s", "0.000001"}},
    {"largest_spy_threshold", {"-kov", "-rt", "1", "-i", "2"}},
    {"one_iteration", {"-kov", "-i", "1", "-l", "0.01"}},
};

inline void PrintTo(const Corpus& c, std::ostream* os) { *os << c.name; }
inline void PrintTo(const Run& r, std::ostream* os) { *os << r.name; }

}  // namespace punb::test
