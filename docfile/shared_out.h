#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "docfile/outfile.h"
#include "peers/peers.h"

namespace punb {

// A file that every process of a run writes a part of (the run log, the result file, the working
// files), as one process would have written it alone: each process writes its text at the place
// that the byte counts of the processes before it leave for it. With one process it is an
// OutFile, written front to back. The leading process creates or empties it (or the run ends with
// `open_message`); a failed write ends the run with `write_message` in every process, at the
// latest when the file is closed, and the file is then cut where the first failed write began, so
// that it never holds a gap another process wrote past.
//
// What the leading process cannot write at offsets (a pipe, a device, an open file's link in
// /proc such as /dev/stdout, which would be another file in every process) it writes front to
// back: the others hand it their text, in order, whenever the file's room is taken or it is
// closed.
class SharedOutFile {
 public:
  SharedOutFile(Peers& peers, std::string path, const char* open_message,
                const char* write_message = nullptr);
  // A regular file that every process has open already, as `fd` (taken over), and that messages
  // call `shown`: a file being staged, by the name it will take.
  SharedOutFile(Peers& peers, int fd, std::string shown, const char* message);
  ~SharedOutFile();
  SharedOutFile(const SharedOutFile&) = delete;
  SharedOutFile& operator=(const SharedOutFile&) = delete;

  // Every process's text, in process order, after what the file holds so far.
  void append(std::string_view mine);
  // Room for `mine` bytes of this process's after what the file holds so far, every process's in
  // process order: returns where this process's start. Fill it with write_at.
  std::int64_t take_room(std::int64_t mine);
  // Writes `text` at `offset`, in room this process took; one process writes it front to back.
  void write_at(std::int64_t offset, std::string_view text);
  // Writes what is buffered and closes the file in every process, checking every write.
  void close();
  // The same for several files at once: all are closed, and cut where a write failed, before the
  // first failure ends the run.
  friend void close_together(std::span<SharedOutFile* const> files);

  std::int64_t size() const { return end_; }  // what all processes have written or made room for
  const std::string& path() const { return path_; }

 private:
  [[noreturn]] void fail_write(int err) const;
  int finish();  // closes every process's file; the first failure's error, 0 when none
  void write_fd(std::int64_t offset, std::string_view text);
  void hand_over();  // the text the others hold for a file written front to back
  void write_in_order(std::int64_t offset, std::string text);

  Peers& peers_;
  std::string path_;
  std::string shown_;  // the name in messages
  const char* write_message_;
  std::optional<OutFile> alone_;  // one process
  int fd_ = -1;
  int error_ = 0;                       // the first failed write's errno (-1: a short write)
  std::int64_t unwritten_ = INT64_MAX;  // where the first text not written was to go
  std::int64_t end_ = 0;
  bool front_to_back_ = false;
  std::string held_;  // front to back: text for the leading process, pieces of (offset, size, text)
  std::int64_t written_ = 0;                     // the leading process's: how far it has written
  std::map<std::int64_t, std::string> waiting_;  // and what came before its turn
};

void close_together(std::span<SharedOutFile* const> files);

}  // namespace punb
