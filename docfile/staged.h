#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "docfile/outfile.h"

namespace punb {

// Output files written under temporary names beside their own and renamed only when all are
// complete, so that a failed run leaves the files of an earlier run as they were and never a
// partial file under either name. A path naming a device or a pipe (/dev/null, /dev/stdout) is
// written in place: renaming over it would destroy it, and it holds no earlier content to keep.
class StagedFiles {
 public:
  // A failure to create, write or rename ends the run with `fail_message` and the user's path.
  explicit StagedFiles(const char* fail_message) : fail_message_(fail_message) {}
  ~StagedFiles();  // removes what was not renamed
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  OutFile& add(const std::string& path);

  // Closes every file, checking each, then gives each its name.
  void commit();

 private:
  struct Staged {
    std::string path;
    std::string temporary;  // empty: written in place
    std::unique_ptr<OutFile> out;
  };
  const char* fail_message_;
  std::vector<Staged> files_;
  std::size_t renamed_ = 0;
};

// Writes `content` as the whole of `path`, staged as above.
void replace_file(const std::string& path, std::string_view content, const char* fail_message);

}  // namespace punb
