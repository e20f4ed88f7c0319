#include "docfile/staged.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "docfile/fatal.h"

namespace punb {

namespace {

[[noreturn]] void fail(const char* message, const std::string& path, int err) {
  throw Fatal(message, path + ": " + (err ? std::strerror(err) : "write error"));
}

// Creates a file of a name no other file has, beside `path`; the umask sets its permissions.
FileHandle create_beside(const std::string& path, std::string& temporary, const char* message) {
  for (int attempt = 0;; ++attempt) {
    temporary = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    errno = 0;
    FileHandle file(std::fopen(temporary.c_str(), "wbx"));
    if (file) return file;
    if (errno != EEXIST || attempt == 100) fail(message, path, errno);
  }
}

}  // namespace

StagedFiles::~StagedFiles() {
  for (std::size_t i = renamed_; i < files_.size(); ++i) {
    files_[i].out.reset();
    if (!files_[i].temporary.empty()) std::remove(files_[i].temporary.c_str());
  }
}

OutFile& StagedFiles::add(const std::string& path) {
  Staged& f = files_.emplace_back(Staged{path, "", nullptr});
  struct stat existing;
  if (stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
    fail(fail_message_, path, EISDIR);
  }
  if (stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    f.out = std::make_unique<OutFile>(path, fail_message_);
    return *f.out;
  }
  FileHandle file = create_beside(path, f.temporary, fail_message_);
  f.out = std::make_unique<OutFile>(std::move(file), path, fail_message_);
  return *f.out;
}

void StagedFiles::commit() {
  for (Staged& f : files_) f.out->close();
  for (; renamed_ < files_.size(); ++renamed_) {
    const Staged& f = files_[renamed_];
    if (f.temporary.empty()) continue;
    if (std::rename(f.temporary.c_str(), f.path.c_str()) != 0) fail(fail_message_, f.path, errno);
  }
}

void replace_file(const std::string& path, std::string_view content, const char* fail_message) {
  StagedFiles files(fail_message);
  files.add(path).write(content);
  files.commit();
}

}  // namespace punb
