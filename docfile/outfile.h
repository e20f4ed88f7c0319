#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "docfile/fileio.h"

namespace punb {

// A file written by the run (result file, run log, working files). It is created or emptied at
// construction, or the run ends with `open_message`; every write is checked, so a full disk ends
// the run with `write_message` instead of leaving a short file behind a success.
class OutFile {
 public:
  OutFile(std::string path, const char* open_message, const char* write_message = nullptr);
  // Takes over a file already open for writing; `path` names it in messages.
  OutFile(FileHandle file, std::string path, const char* write_message);
  ~OutFile();  // an unchecked close, for runs that are already ending on another fault

  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  void write(std::string_view text) {
    if (text.size() > buffer_.size() - used_) flush();
    if (text.size() > buffer_.size()) {
      write_through(text);
      return;
    }
    text.copy(buffer_.data() + used_, text.size());
    used_ += text.size();
  }

  // Room for `n` bytes written in place; commit them with advance(n).
  char* room(std::size_t n) {
    if (n > buffer_.size() - used_) flush();
    return buffer_.data() + used_;
  }
  void advance(std::size_t n) { used_ += n; }

  // Writes what is buffered and closes the file, checking both.
  void close();

  const std::string& path() const { return path_; }

 private:
  void flush();
  void write_through(std::string_view text);
  [[noreturn]] void fail(int err);
  [[noreturn]] static void fail(const char* message, const std::string& path, int err);

  std::string path_;
  const char* write_message_;
  FileHandle file_;
  ByteBuffer buffer_;
  std::size_t used_ = 0;
};

// Standard output carries the reports; a failure to write it is found at the end of the run.
void print(std::string_view text);

// A usage text for the program `as`: where a line of `usage` names the program `name` (after
// "usage: " or the spaces that line up the synopsis), it names `as`.
std::string name_program(std::string_view usage, std::string_view name, std::string_view as);

// The exit status of a run whose product went to standard output: `status`, unless standard
// output could not take it all, which `tool` then says on standard error (status 1).
int checked_exit(int status, const char* tool);

}  // namespace punb
