#include "vectorize/staged.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "docfile/fatal.h"

namespace punb::vectorize {

namespace {
constexpr const char* kCannotWrite = "can not write output";
}

StagedFiles::~StagedFiles() {
  for (std::size_t i = renamed_; i < files_.size(); ++i) {
    files_[i].out.reset();
    std::remove(files_[i].temporary.c_str());
  }
}

OutFile& StagedFiles::add(const std::string& path) {
  std::string temporary = path + ".tmp" + std::to_string(getpid());
  files_.push_back({path, temporary, nullptr});
  try {
    files_.back().out = std::make_unique<OutFile>(temporary, kCannotWrite);
  } catch (const Fatal& e) {  // name the file the user asked for
    throw Fatal(kCannotWrite, path + e.detail().substr(temporary.size()));
  }
  return *files_.back().out;
}

void StagedFiles::commit() {
  for (Staged& f : files_) f.out->close();
  for (; renamed_ < files_.size(); ++renamed_) {
    const Staged& f = files_[renamed_];
    if (std::rename(f.temporary.c_str(), f.path.c_str()) != 0)
      throw Fatal(kCannotWrite, f.path + ": " + std::strerror(errno));
  }
}

}  // namespace punb::vectorize
