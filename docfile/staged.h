#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "docfile/outfile.h"

namespace punb {

// Output files written aside and given their names only when all are complete, so that a failed
// run leaves the files of an earlier run as they were and never a partial file under either name.
// A replaced file keeps its permission bits; until it is complete its stand-in stays writable by
// its owner.
//
// The stand-in is a file without a name in the target's folder where the file system allows it,
// so that not even a run killed outright leaves anything behind; it is named (with a short name,
// so that a target name of any legal length works) only for the rename over the target. Where the
// file system has no unnamed files, it is a file of a short temporary name from the start, which
// an interrupt, a termination or a hang-up (signals that would end the process anyway) removes
// before the process ends with that signal.
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
  ~StagedFiles();  // removes what it created and did not rename
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  OutFile& add(const std::string& path);

  // Of file k (in the order added): whether it is written in place; otherwise a descriptor of its
  // stand-in, open for writing, and whether the stand-in has a name yet (temporary(k), in the
  // target's folder).
  bool in_place(std::size_t k) const { return files_[k].fd < 0; }
  int descriptor(std::size_t k) const { return files_[k].fd; }
  const std::string& temporary(std::size_t k) const { return files_[k].temporary; }
  // Gives file k's stand-in a temporary name, for processes that cannot reach it otherwise, and
  // returns it as a path from where the caller stands.
  std::string name_temporarily(std::size_t k);

  // Closes every file, checking each, then gives each its name.
  void commit();

 private:
  struct Staged {
    std::string path;       // as the user gave it
    std::string target;     // the name to create or replace: `path`, or the end of its links
    bool replaces = false;  // a regular file, whose permission bits the new one takes
    unsigned mode = 0;
    int folder = -1;        // the target's folder
    std::string base;       // the target's name in it
    int fd = -1;            // the stand-in; -1: written in place
    std::string temporary;  // the stand-in's name in `folder` while it has one
    int cleanup = -1;       // its entry among the names removed on a signal
    std::unique_ptr<OutFile> out;
  };
  void name_aside(Staged& f);
  void release(Staged& f);

  const char* fail_message_;
  std::vector<Staged> files_;
  std::size_t renamed_ = 0;
};

// Writes `content` as the whole of `path`, staged as above.
void replace_file(const std::string& path, std::string_view content, const char* fail_message);

// Ends the run with `fail_message`, as a later write of `path` would, when `path` is a folder, its
// folder is missing or cannot be written, or its name is too long: for a file written at the end
// of a long run.
void check_writable(const std::string& path, const char* fail_message);

// Whether bytes written under `path` (an existing name) go to something other than a regular
// file at its end (a device, a pipe, an open file's link in /proc), which is written front to back.
bool written_in_place(const std::string& path);

// For the tests: whether the stand-ins may be unnamed files (true unless turned off).
void allow_unnamed_files(bool allow);

}  // namespace punb
