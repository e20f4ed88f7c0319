#include "docfile/outfile.h"

#include <cerrno>
#include <cstring>

#include "docfile/fatal.h"
#include "docfile/progress.h"

namespace punb {

namespace {
constexpr std::size_t kBufferSize = std::size_t{1} << 16;
}

OutFile::OutFile(std::string path, const char* open_message, const char* write_message)
    : path_(std::move(path)),
      write_message_(write_message ? write_message : open_message),
      buffer_(kBufferSize) {
  errno = 0;
  file_.reset(std::fopen(path_.c_str(), "wb"));
  if (!file_) fail(open_message, path_, errno);
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);  // buffered here already
}

OutFile::OutFile(FileHandle file, std::string path, const char* write_message)
    : path_(std::move(path)),
      write_message_(write_message),
      file_(std::move(file)),
      buffer_(kBufferSize) {
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);
}

OutFile::~OutFile() {
  if (file_ && used_ > 0) std::fwrite(buffer_.data(), 1, used_, file_.get());
}

void OutFile::fail(const char* message, const std::string& path, int err) {
  throw Fatal(message, path + ": " + (err ? std::strerror(err) : "write error"));
}

void OutFile::fail(int err) {
  used_ = 0;
  file_.reset();
  fail(write_message_, path_, err);
}

void OutFile::write_through(std::string_view text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size()) fail(errno);
}

void OutFile::flush() {
  if (used_ == 0) return;
  std::size_t n = used_;
  used_ = 0;
  write_through({buffer_.data(), n});
}

void OutFile::close() {
  if (!file_) return;
  flush();
  errno = 0;
  int status = std::fclose(file_.release());
  if (status != 0) fail(errno);
}

void print(std::string_view text) {
  const ProgressPause pause;
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (pause.paused()) std::fflush(stdout);  // on the terminal before the progress line is back
}

std::string name_program(std::string_view usage, std::string_view name, std::string_view as) {
  std::string text;
  while (!usage.empty()) {
    const std::size_t end = usage.find('\n');
    std::string_view line = usage.substr(0, end == std::string_view::npos ? usage.size() : end + 1);
    usage.remove_prefix(line.size());
    std::size_t at = line.starts_with("usage: ") ? 7 : 0;
    at = line.find_first_not_of(' ', at);
    if (at != std::string_view::npos && line.substr(at).starts_with(name) &&
        line.substr(at + name.size()).starts_with(' ')) {
      text.append(line.substr(0, at)).append(as);
      line.remove_prefix(at + name.size());
    }
    text.append(line);
  }
  return text;
}

int checked_exit(int status, const char* tool) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: standard output: write error\n", tool);
    return 1;
  }
  return status;
}

}  // namespace punb
