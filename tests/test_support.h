#pragma once

// Scratch directories, files and runs of the built binary for the tests.

#include <sys/wait.h>

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

// Runs `program` with `args` in `dir`, standard input empty.
inline RunResult run_in(const TempDir& dir, const std::string& program,
                        const std::vector<std::string>& args) {
  std::string command = "cd " + shell_quote(dir.root()) + " && " + shell_quote(program);
  for (const auto& a : args) command += " " + shell_quote(a);
  const std::string out =
      dir.root() + "/../" + std::filesystem::path(dir.root()).filename().string();
  command +=
      " >" + shell_quote(out + ".stdout") + " 2>" + shell_quote(out + ".stderr") + " </dev/null";
  const int raw = std::system(command.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  for (auto [file, text] : {std::pair{out + ".stdout", &r.out}, {out + ".stderr", &r.err}}) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    *text = s.str();
    std::filesystem::remove(file);
  }
  return r;
}

inline RunResult run_punb(const TempDir& dir, const std::vector<std::string>& args) {
  return run_in(dir, PUNB_BINARY, args);
}

inline std::size_t count_lines(const std::string& text) {
  std::size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace punb::test
