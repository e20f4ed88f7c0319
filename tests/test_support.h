#pragma once

// Scratch directories, generated corpora and runs of the built binaries for the tests.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
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
    std::filesystem::remove_all(root_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& root() const { return root_; }
  std::string path(const std::string& name) const { return root_ + "/" + name; }

  void write(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
  }
  std::string read(const std::string& name) const {
    std::stringstream s;
    s << std::ifstream(path(name), std::ios::binary).rdbuf();
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
  const TempDir capture;
  std::string command = "cd " + shell_quote(cwd) + " && " + shell_quote(program);
  for (const auto& a : args) {
    command += ' ';
    command += shell_quote(a);
  }
  command += " >" + shell_quote(capture.path("out")) + " 2>" + shell_quote(capture.path("err")) +
             " </dev/null";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, capture.read("out"), capture.read("err")};
}

// The argument vector of `program` run with `args`, for execv; it points into both.
inline std::vector<char*> argv_of(const std::string& program,
                                  const std::vector<std::string>& args) {
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Runs `program` as run_in_directory does, without a shell, and sets `peak_kb` to the most
// memory it held (its peak resident size, in kB).
inline RunResult run_measured(const std::string& cwd, const std::string& program,
                              const std::vector<std::string>& args, long& peak_kb) {
  const TempDir capture;
  std::vector<char*> argv = argv_of(program, args);
  const pid_t child = fork();
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(capture.path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(capture.path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(cwd.c_str()) != 0)
      _exit(127);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int raw = 0;
  struct rusage usage {};
  if (child < 0 || wait4(child, &raw, 0, &usage) != child) throw std::runtime_error("no run");
  peak_kb = usage.ru_maxrss;
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, capture.read("out"), capture.read("err")};
}

inline RunResult run_punb(const TempDir& dir, const std::vector<std::string>& args) {
  return run_in_directory(dir.root(), PUNB_BINARY, args);
}

#ifdef CLASSIFY_BINARY
inline RunResult run_classify(const TempDir& dir, const std::vector<std::string>& args) {
  return run_in_directory(dir.root(), CLASSIFY_BINARY, args);
}
#endif
#ifdef VECTORIZE_BINARY
inline RunResult run_vectorize(const TempDir& dir, const std::vector<std::string>& args) {
  return run_in_directory(dir.root(), VECTORIZE_BINARY, args);
}
#endif

// Writes STEM.pos, STEM.unlabel and STEM.test into `dir` with the corpus generator, given its
// options as one text ("--pos 20 --unlabel 30 ...").
inline void generate_corpus(const TempDir& dir, const std::string& stem,
                            const std::string& options) {
  std::vector<std::string> args = {"--out", stem};
  std::istringstream words(options);
  for (std::string w; words >> w;) args.push_back(w);
  if (run_in_directory(dir.root(), GEN_CORPUS_BINARY, args).status != 0) {
    throw std::runtime_error("gen_corpus failed");
  }
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::size_t count_lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace punb::test
