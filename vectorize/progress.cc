#include "vectorize/progress.h"

#include <unistd.h>

#include <cstdio>

namespace punb::vectorize {

std::string progress_line(const std::string& stage, std::uint64_t documents, std::uint64_t bytes,
                          double seconds) {
  const double mb = static_cast<double>(bytes) / 1e6;
  char text[160];
  std::snprintf(text, sizeof text, ": %llu documents, %.1f MB, %.1f MB/s",
                static_cast<unsigned long long>(documents), mb, seconds > 0 ? mb / seconds : 0.0);
  return stage + text;
}

Progress::Progress(std::string stage, bool shown)
    : stage_(std::move(stage)),
      enabled_(shown && isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

Progress::~Progress() {
  if (drawn_) std::fputc('\n', stderr);
}

void Progress::update(std::uint64_t documents, std::uint64_t bytes) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::seconds(1)) return;
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::fprintf(stderr, "\r\033[Kpunb-vectorize: %s",
               progress_line(stage_, documents, bytes, seconds).c_str());
  drawn_ = true;
}

}  // namespace punb::vectorize
