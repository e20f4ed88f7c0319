#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "docfile/outfile.h"

namespace punb {

// Output files written under temporary names beside their own and renamed only when all are
// complete, so that a failed run leaves the files of an earlier run as they were and never a
// partial file under either name. A replaced file keeps its permission bits.
//
// A name that is a symbolic link stays one: the file at the end of its links is the one replaced
// (or created, for a link to a missing name). Anything that is neither a regular file nor a
// missing name (/dev/null, a pipe) is written in place: renaming over it would destroy it, and it
// holds no earlier content to keep. So is anything reached through an open file's link in /proc,
// as /dev/stdout, /dev/fd/N and /proc/self/fd/N are: such a link names a file the process has
// open (standard output sent to a file), not a name to replace.
class StagedFiles {
 public:
  // A failure to create, write or rename ends the run with `fail_message` and the user's path.
  explicit StagedFiles(const char* fail_message) : fail_message_(fail_message) {}
  ~StagedFiles();  // removes the temporary files it created and did not rename
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  OutFile& add(const std::string& path);
  // The name that file k (in the order added) is written under until the commit: its temporary
  // name, or empty when it is written in place.
  const std::string& temporary(std::size_t k) const { return files_[k].temporary; }

  // Closes every file, checking each, then gives each its name.
  void commit();

 private:
  struct Staged {
    std::string target;     // the name the temporary file is renamed to
    std::string temporary;  // empty: written in place
    std::unique_ptr<OutFile> out;
  };
  const char* fail_message_;
  std::vector<Staged> files_;
  std::size_t renamed_ = 0;
};

// Writes `content` as the whole of `path`, staged as above.
void replace_file(const std::string& path, std::string_view content, const char* fail_message);

// Ends the run with `fail_message`, as a later write of `path` would, when `path` is a folder or
// its folder is missing or cannot be written: for a file written at the end of a long run.
void check_writable(const std::string& path, const char* fail_message);

}  // namespace punb
