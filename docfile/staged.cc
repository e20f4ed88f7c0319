#include "docfile/staged.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>

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

// The text of the link `link`, as a name from where the caller stands; none when it cannot be
// read (errno says why).
std::optional<std::string> followed(const std::string& link) {
  std::string text(256, '\0');
  for (;;) {
    const ssize_t n = readlink(link.c_str(), text.data(), text.size());
    if (n < 0) return std::nullopt;
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
    const std::optional<std::string> next = followed(target);
    if (!next) fail(message, path, errno);
    target = *next;
  }
}

// The stand-ins' names, short so that they fit beside a target name of any legal length.
std::string temporary_name(int attempt) {
  return "punb.tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
}
constexpr int kAttempts = 100;

std::atomic<bool> unnamed_allowed{true};

// The named stand-ins that a signal which ends the process removes first. An entry is written
// whole before its folder is set, and the handler reads only the entries whose folder is set.
struct CleanupEntry {
  std::atomic<int> folder{-1};
  char name[64] = {};
};
constexpr int kCleanupEntries = 64;
CleanupEntry cleanup_entries[kCleanupEntries];
bool cleanup_taken[kCleanupEntries];
int cleanup_count = 0;
std::mutex cleanup_mutex;
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Only async-signal-safe calls: unlinkat and raise. With SA_RESETHAND the signal's default
// action is back, and the raised signal ends the process as soon as the handler returns.
extern "C" void remove_and_end(int signal) {
  for (CleanupEntry& e : cleanup_entries) {
    const int folder = e.folder.load();
    if (folder >= 0) unlinkat(folder, e.name, 0);
  }
  raise(signal);
}

// The handler is set only for signals whose action is the default (ending the process): one
// that is ignored (nohup) or handled by the program around this one stays so.
void set_handlers(bool on) {
  for (const int signal : kEndingSignals) {
    struct sigaction now {};
    if (sigaction(signal, nullptr, &now) != 0) continue;
    struct sigaction change {};
    sigemptyset(&change.sa_mask);
    if (on && now.sa_handler == SIG_DFL && !(now.sa_flags & SA_SIGINFO)) {
      change.sa_handler = remove_and_end;
      change.sa_flags = SA_RESETHAND;
    } else if (!on && now.sa_handler == remove_and_end && !(now.sa_flags & SA_SIGINFO)) {
      change.sa_handler = SIG_DFL;
    } else {
      continue;
    }
    sigaction(signal, &change, nullptr);
  }
}

// Returns the entry, or -1 when every entry is taken (the name is then left to the destructor).
int remove_on_signal(int folder, const std::string& name) {
  const std::lock_guard<std::mutex> lock(cleanup_mutex);
  for (int k = 0; k < kCleanupEntries; ++k) {
    if (cleanup_taken[k] || name.size() >= sizeof cleanup_entries[k].name) continue;
    cleanup_taken[k] = true;
    std::memcpy(cleanup_entries[k].name, name.c_str(), name.size() + 1);
    cleanup_entries[k].folder.store(folder);
    if (cleanup_count++ == 0) set_handlers(true);
    return k;
  }
  return -1;
}

void keep_on_signal(int entry) {
  if (entry < 0) return;
  const std::lock_guard<std::mutex> lock(cleanup_mutex);
  cleanup_entries[entry].folder.store(-1);
  cleanup_taken[entry] = false;
  if (--cleanup_count == 0) set_handlers(false);
}

std::string base_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void allow_unnamed_files(bool allow) { unnamed_allowed = allow; }

void StagedFiles::release(Staged& f) {
  keep_on_signal(f.cleanup);
  f.cleanup = -1;
  f.temporary.clear();
  if (f.fd >= 0) ::close(f.fd);
  if (f.folder >= 0) ::close(f.folder);
  f.fd = f.folder = -1;
}

StagedFiles::~StagedFiles() {
  for (std::size_t i = renamed_; i < files_.size(); ++i) {
    Staged& f = files_[i];
    f.out.reset();
    if (!f.temporary.empty()) unlinkat(f.folder, f.temporary.c_str(), 0);
    release(f);
  }
}

// A name for the stand-in, which has none yet.
void StagedFiles::name_aside(Staged& f) {
  const std::string self = "/proc/self/fd/" + std::to_string(f.fd);
  for (int attempt = 0;; ++attempt) {
    const std::string name = temporary_name(attempt);
    int linked = linkat(AT_FDCWD, self.c_str(), f.folder, name.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT) {  // no /proc: the privileged way, where it is allowed
      linked = linkat(f.fd, "", f.folder, name.c_str(), AT_EMPTY_PATH);
    }
    if (linked == 0) {
      f.temporary = name;
      f.cleanup = remove_on_signal(f.folder, name);
      return;
    }
    if (errno != EEXIST || attempt == kAttempts) fail(fail_message_, f.path, errno);
  }
}

std::string StagedFiles::name_temporarily(std::size_t k) {
  Staged& f = files_[k];
  if (f.temporary.empty()) name_aside(f);
  return folder_of(f.target) + "/" + f.temporary;
}

OutFile& StagedFiles::add(const std::string& path) {
  const Destination d = destination_of(path, fail_message_);
  Staged& f = files_.emplace_back();  // kept at once, so that the destructor removes what it gets
  f.path = path;
  f.target = d.target;
  if (d.kind == Destination::in_place) {
    f.out = std::make_unique<OutFile>(path, fail_message_);
    return *f.out;
  }
  f.replaces = d.kind == Destination::regular;
  f.mode = d.mode;
  f.base = base_of(d.target);
  f.folder = ::open(folder_of(d.target).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (f.folder < 0) fail(fail_message_, path, errno);
  // Writable by its owner until it is complete (other processes of a run may open it), and
  // readable by no one the target would not let read it.
  const mode_t mode = f.replaces ? (d.mode & 0666) | 0600 : 0666;
  if (unnamed_allowed) f.fd = openat(f.folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (f.fd < 0) {
    // No unnamed files on this file system (or an old kernel): a named stand-in.
    if (unnamed_allowed && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      fail(fail_message_, path, errno);
    for (int attempt = 0; f.fd < 0; ++attempt) {
      const std::string name = temporary_name(attempt);
      f.fd = openat(f.folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
      if (f.fd >= 0) {
        f.temporary = name;
        f.cleanup = remove_on_signal(f.folder, name);
      } else if (errno != EEXIST || attempt == kAttempts) {
        fail(fail_message_, path, errno);
      }
    }
  }
  const int copy = fcntl(f.fd, F_DUPFD_CLOEXEC, 0);
  errno = 0;
  FileHandle file(copy >= 0 ? fdopen(copy, "wb") : nullptr);
  if (!file) {
    const int err = errno;
    if (copy >= 0) ::close(copy);
    fail(fail_message_, path, err);
  }
  f.out = std::make_unique<OutFile>(std::move(file), path, fail_message_);
  return *f.out;
}

void StagedFiles::commit() {
  for (Staged& f : files_) f.out->close();
  for (; renamed_ < files_.size(); ++renamed_) {
    Staged& f = files_[renamed_];
    if (f.fd < 0) continue;
    if (f.replaces && fchmod(f.fd, f.mode) != 0) fail(fail_message_, f.path, errno);
    if (f.temporary.empty()) name_aside(f);
    if (renameat(f.folder, f.temporary.c_str(), f.folder, f.base.c_str()) != 0)
      fail(fail_message_, f.path, errno);
    release(f);
  }
}

void replace_file(const std::string& path, std::string_view content, const char* fail_message) {
  StagedFiles files(fail_message);
  files.add(path).write(content);
  files.commit();
}

bool written_in_place(const std::string& path) {
  std::string target = path;
  for (int links = 0; links <= kMaxLinks; ++links) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) return false;
    if (!S_ISLNK(st.st_mode)) return !S_ISREG(st.st_mode);
    if (in_proc(target)) return true;
    const std::optional<std::string> next = followed(target);
    if (!next) return false;
    target = *next;
  }
  return false;
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
