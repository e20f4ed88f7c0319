#pragma once

#include <memory>
#include <string>
#include <vector>

#include "docfile/outfile.h"

namespace punb::vectorize {

// Output files written under temporary names beside their own and renamed only when all are
// complete, so that a failed run leaves the files of an earlier run as they were.
class StagedFiles {
 public:
  StagedFiles() = default;
  ~StagedFiles();  // removes what was not renamed
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  OutFile& add(const std::string& path);

  // Closes every file, checking each, then gives each its name.
  void commit();

 private:
  struct Staged {
    std::string path;
    std::string temporary;
    std::unique_ptr<OutFile> out;
  };
  std::vector<Staged> files_;
  std::size_t renamed_ = 0;
};

}  // namespace punb::vectorize
