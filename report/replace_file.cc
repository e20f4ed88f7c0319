#include "report/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "docfile/fatal.h"
#include "report/inputs.h"

namespace punb::report {

namespace {

[[noreturn]] void fail(const std::string& path, int err) {
  throw Fatal(kBadInput, path + ": " + (err ? std::strerror(err) : "write error"));
}

// Creates a file of a name no other file has, beside `path`; the umask sets its permissions.
int create_beside(const std::string& path, std::string& temporary) {
  for (int attempt = 0;; ++attempt) {
    temporary = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST || attempt == 100) fail(path, errno);
  }
}

}  // namespace

void replace_file(const std::string& path, std::string_view content) {
  // Renaming over a device or a folder would destroy it rather than write to it.
  struct stat existing;
  if (stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    throw Fatal(kBadInput, path + ": not a regular file, so it is not replaced");
  }
  std::string temporary;
  const int fd = create_beside(path, temporary);
  int err = 0;
  for (std::size_t done = 0; done < content.size() && err == 0;) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      err = errno;
    }
  }
  if (close(fd) != 0 && err == 0) err = errno ? errno : EIO;
  if (err == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    unlink(temporary.c_str());
    fail(path, err);
  }
}

}  // namespace punb::report
