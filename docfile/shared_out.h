#pragma once

#include <cstdint>
#include <optional>
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
// latest when the file is closed.
class SharedOutFile {
 public:
  SharedOutFile(Peers& peers, std::string path, const char* open_message,
                const char* write_message = nullptr);
  // The same for a file that messages call `shown`: a temporary file, by the name it will take.
  SharedOutFile(Peers& peers, std::string path, std::string shown, const char* message);
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

  std::int64_t size() const { return end_; }  // what all processes have written or made room for
  const std::string& path() const { return path_; }

 private:
  SharedOutFile(Peers& peers, std::string path, std::string shown, const char* open_message,
                const char* write_message);
  [[noreturn]] void fail_write(int err) const;

  Peers& peers_;
  std::string path_;
  std::string shown_;  // the name in messages
  const char* write_message_;
  std::optional<OutFile> alone_;  // one process
  int fd_ = -1;
  int error_ = 0;  // the first failed write's errno (-1: a short write)
  std::int64_t end_ = 0;
};

}  // namespace punb
