#pragma once

// Scratch directories, files and runs of the built binary for the tests.

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace punb::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "punb-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& root() const { return root_; }
  std::string path(const std::string& name) const { return root_ + "/" + name; }

  std::string write(const std::string& name, const std::string& content) const {
    std::ofstream out(path(name), std::ios::binary);
    out << content;
    return path(name);
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }

 private:
  std::string root_;
};

inline std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `args` in the directory `cwd`, standard input empty.
inline RunResult run_in_directory(const std::string& cwd, const std::string& program,
                                  const std::vector<std::string>& args) {
  std::string command = "cd " + shell_quote(cwd) + " && " + shell_quote(program);
  for (const auto& a : args) command += " " + shell_quote(a);
  const TempDir capture;
  const std::string out = capture.path("stdout");
  const std::string err = capture.path("stderr");
  command += " >" + shell_quote(out) + " 2>" + shell_quote(err) + " </dev/null";
  const int raw = std::system(command.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = capture.read("stdout");
  r.err = capture.read("stderr");
  return r;
}

inline RunResult run_in(const TempDir& dir, const std::string& program,
                        const std::vector<std::string>& args) {
  return run_in_directory(dir.root(), program, args);
}

inline RunResult run_punb(const TempDir& dir, const std::vector<std::string>& args) {
  return run_in(dir, PUNB_BINARY, args);
}

inline std::size_t count_lines(const std::string& text) {
  std::size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// A small corpus whose classes overlap, so that the EM iterations have something to do.
struct Corpus {
  std::string pos, unlabeled, test;
};

inline Corpus make_corpus(int positives, int unlabeled, int tests) {
  std::uint32_t state = 12345;
  auto next = [&](std::uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % n;
  };
  auto document = [&](bool positive) {
    std::string d;
    const int words = 3 + static_cast<int>(next(6));
    for (int w = 0; w < words; ++w) {
      // Positive words 1..20, negative 21..40, and a shared 41..50 for a third of the words.
      std::uint32_t index = next(3) == 0 ? 41 + next(10) : 1 + next(20) + (positive ? 0 : 20);
      if (next(5) == 0) index = 1 + next(40);  // stray words blur the classes
      d += (w ? " " : "") + std::to_string(index) + ":" + std::to_string(1 + next(3));
    }
    return d + "\n";
  };
  Corpus c;
  for (int i = 0; i < positives; ++i) c.pos += document(true);
  for (int i = 0; i < unlabeled; ++i) c.unlabeled += document(next(10) < 3);
  for (int i = 0; i < tests; ++i) {
    const bool positive = next(2) == 0;
    c.test += (positive ? "1 " : "-1 ") + document(positive);
  }
  return c;
}

inline void write_corpus(const TempDir& dir, const Corpus& c) {
  dir.write("data.pos", c.pos);
  dir.write("data.unlabel", c.unlabeled);
  dir.write("data.test", c.test);
}

}  // namespace punb::test
