#include "docfile/staged.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
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

// The links followed before a name is taken for a loop, as the kernel counts them.
constexpr int kMaxLinks = 40;

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Links in /proc (/proc/self/fd/N, where /dev/stdout and /dev/fd/N lead) stand for open files,
// and their text is no name to follow.
bool in_proc(const std::string& link) {
  struct statfs fs;
  return statfs(folder_of(link).c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// The text of the link `link`, as a name from where the caller stands.
std::string followed(const std::string& link, const char* message, const std::string& path) {
  std::string text(256, '\0');
  for (;;) {
    const ssize_t n = readlink(link.c_str(), text.data(), text.size());
    if (n < 0) fail(message, path, errno);
    if (static_cast<std::size_t>(n) < text.size()) {
      text.resize(static_cast<std::size_t>(n));
      break;
    }
    text.resize(text.size() * 2);
  }
  const std::size_t slash = link.rfind('/');
  if (text.starts_with('/') || slash == std::string::npos) return text;
  return link.substr(0, slash + 1) + text;
}

// Where the bytes written under `path` go.
struct Destination {
  enum Kind { missing, regular, in_place } kind;
  std::string target;  // the name to create or replace: `path`, or the end of its links
  mode_t mode = 0;     // a regular file's permission bits, which its replacement keeps
};

Destination destination_of(const std::string& path, const char* message) {
  std::string target = path;
  for (int links = 0;; ++links) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) {
      if (errno == ENOENT) return {Destination::missing, target};
      fail(message, path, errno);
    }
    if (S_ISDIR(st.st_mode)) fail(message, path, EISDIR);
    if (S_ISREG(st.st_mode)) return {Destination::regular, target, st.st_mode & 07777};
    if (!S_ISLNK(st.st_mode) || in_proc(target)) return {Destination::in_place, path};
    if (links == kMaxLinks) fail(message, path, ELOOP);
    target = followed(target, message, path);
  }
}

// Creates a file of a name no other file has, beside `d.target`, with the permissions of the file
// it replaces (a new name's come from the umask). `temporary` is set only once the file is ours.
FileHandle create_beside(const Destination& d, std::string& temporary, const std::string& path,
                         const char* message) {
  for (int attempt = 0;; ++attempt) {
    const std::string name =
        d.target + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    errno = 0;
    FileHandle file(std::fopen(name.c_str(), "wbx"));
    if (file) {
      temporary = name;
      if (d.kind == Destination::regular && fchmod(fileno(file.get()), d.mode) != 0)
        fail(message, path, errno);
      return file;
    }
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
  const Destination d = destination_of(path, fail_message_);
  Staged& f = files_.emplace_back(Staged{d.target, "", nullptr});
  if (d.kind == Destination::in_place) {
    f.out = std::make_unique<OutFile>(path, fail_message_);
    return *f.out;
  }
  FileHandle file = create_beside(d, f.temporary, path, fail_message_);
  f.out = std::make_unique<OutFile>(std::move(file), path, fail_message_);
  return *f.out;
}

void StagedFiles::commit() {
  for (Staged& f : files_) f.out->close();
  for (; renamed_ < files_.size(); ++renamed_) {
    const Staged& f = files_[renamed_];
    if (f.temporary.empty()) continue;
    if (std::rename(f.temporary.c_str(), f.target.c_str()) != 0)
      fail(fail_message_, f.out->path(), errno);
  }
}

void replace_file(const std::string& path, std::string_view content, const char* fail_message) {
  StagedFiles files(fail_message);
  files.add(path).write(content);
  files.commit();
}

void check_writable(const std::string& path, const char* fail_message) {
  const Destination d = destination_of(path, fail_message);
  // A file is written in place; a new one is made in the target's folder, and renamed there.
  const bool in_place = d.kind == Destination::in_place;
  const std::string written = in_place ? path : folder_of(d.target);
  if (faccessat(AT_FDCWD, written.c_str(), in_place ? W_OK : W_OK | X_OK, AT_EACCESS) != 0)
    fail(fail_message, path, errno);
}

}  // namespace punb
