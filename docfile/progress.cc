#include "docfile/progress.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

namespace punb {

namespace {

constexpr std::string_view kErase = "\r\033[K";

// One write, so that the line never comes out in pieces.
void to_terminal(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n <= 0) return;  // nothing to be done about a terminal that fails
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// The run's line: what it says, and the thread that draws it.
struct RunLine {
  std::atomic<bool> on{false};
  std::atomic<std::uint64_t> bytes{0};
  std::mutex mutex;  // guards the rest, and the terminal while the line is kept
  std::condition_variable wake;
  std::string step;
  std::string part;
  bool drawn = false;
  bool stop = false;
  std::chrono::steady_clock::time_point start;
  std::thread drawer;

  void draw() {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string text = std::string(kErase) + "punb: " + step;
    if (!part.empty()) text += ", " + part;
    char figures[64];
    const std::uint64_t read = bytes.load(std::memory_order_relaxed);
    if (read > 0) {
      std::snprintf(figures, sizeof figures, ": %.1f MB, %.1f s", static_cast<double>(read) / 1e6,
                    seconds);
    } else {
      std::snprintf(figures, sizeof figures, ": %.1f s", seconds);
    }
    to_terminal(text + figures);
    drawn = true;
  }
  void erase() {
    if (drawn) to_terminal(kErase);
    drawn = false;
  }
};

RunLine& run_line() {
  static RunLine line;
  return line;
}

// Redraws a few times a second.
constexpr auto kRedraw = std::chrono::milliseconds(250);

}  // namespace

std::string progress_line(const std::string& stage, std::uint64_t documents, std::uint64_t bytes,
                          double seconds) {
  const double mb = static_cast<double>(bytes) / 1e6;
  char text[160];
  std::snprintf(text, sizeof text, ": %llu documents, %.1f MB, %.1f MB/s",
                static_cast<unsigned long long>(documents), mb, seconds > 0 ? mb / seconds : 0.0);
  return stage + text;
}

Progress::Progress(const char* tool, std::string stage, bool shown)
    : tool_(tool),
      stage_(std::move(stage)),
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
  std::fprintf(stderr, "\r\033[K%s: %s", tool_,
               progress_line(stage_, documents, bytes, seconds).c_str());
  drawn_ = true;
}

RunProgress::RunProgress(bool shown, std::string step) {
  RunLine& line = run_line();
  if (!shown || isatty(STDERR_FILENO) != 1) return;
  shown_ = true;
  std::lock_guard lock(line.mutex);
  line.start = std::chrono::steady_clock::now();
  line.step = std::move(step);
  line.part.clear();
  line.bytes = 0;
  line.stop = false;
  line.on = true;
  line.draw();  // at once, however short the run
  try {
    line.drawer = std::thread([&line] {
      std::unique_lock lock(line.mutex);
      while (!line.wake.wait_for(lock, kRedraw, [&] { return line.stop; })) line.draw();
    });
  } catch (const std::system_error&) {
    // A run the system grants no thread for this goes on without the line.
    line.erase();
    line.on = false;
    shown_ = false;
  }
}

RunProgress::~RunProgress() {
  if (!shown_) return;
  RunLine& line = run_line();
  {
    std::lock_guard lock(line.mutex);
    line.stop = true;
  }
  line.wake.notify_one();
  line.drawer.join();
  std::lock_guard lock(line.mutex);
  line.erase();
  line.on = false;
}

void progress_step(std::string step) {
  RunLine& line = run_line();
  if (!line.on) return;
  std::lock_guard lock(line.mutex);
  line.step = std::move(step);
  line.part.clear();
  line.bytes = 0;
}

void progress_part(std::string part) {
  RunLine& line = run_line();
  if (!line.on) return;
  std::lock_guard lock(line.mutex);
  line.part = std::move(part);
}

void progress_bytes(std::uint64_t bytes) {
  RunLine& line = run_line();
  if (line.on) line.bytes.fetch_add(bytes, std::memory_order_relaxed);
}

ProgressPause::ProgressPause() : paused_(run_line().on) {
  if (!paused_) return;
  RunLine& line = run_line();
  line.mutex.lock();
  line.erase();
}

ProgressPause::~ProgressPause() {
  if (!paused_) return;
  run_line().mutex.unlock();
}

}  // namespace punb
