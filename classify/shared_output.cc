#include "classify/shared_output.h"

#include <algorithm>

#include "classify/lines.h"
#include "docfile/together.h"

namespace punb::classify {

void LineSink::take(std::string_view text) {
  if (at_once_) {
    write_(text);
    return;
  }
  while (!text.empty()) {
    // The held lines stay below kFlushBytes: the first line end that brings them to it ends a run.
    const std::size_t need = held_.size() < kFlushBytes ? kFlushBytes - held_.size() : 1;
    const std::size_t end = text.size() < need ? std::string_view::npos : text.find('\n', need - 1);
    if (end == std::string_view::npos) {
      held_.append(text);
      return;
    }
    held_.append(text.substr(0, end + 1));
    write_(held_);
    held_.clear();
    text.remove_prefix(end + 1);
  }
}

void LineSink::finish() {
  if (!held_.empty()) write_(held_);
  held_.clear();
}

std::vector<std::string> exchange_in_rounds(Peers& peers, std::vector<std::string> to_each,
                                            std::size_t round_bytes) {
  const auto processes = static_cast<std::size_t>(peers.size());
  const std::size_t piece = std::max<std::size_t>(1, round_bytes / processes);
  std::vector<std::size_t> sent(processes);
  std::vector<std::size_t> size(processes);
  for (std::size_t r = 0; r < processes; ++r) size[r] = to_each[r].size();
  std::vector<std::string> received(processes);
  for (;;) {
    std::int64_t left = 0;
    for (std::size_t r = 0; r < processes; ++r)
      left += static_cast<std::int64_t>(size[r] - sent[r]);
    if (peers.max(left) == 0) break;
    std::vector<std::string> round(processes);
    for (std::size_t r = 0; r < processes; ++r) {
      const std::size_t n = std::min(piece, size[r] - sent[r]);
      // A text that goes whole is not copied.
      if (n == 0) continue;
      if (sent[r] == 0 && n == size[r]) {
        round[r] = std::move(to_each[r]);
      } else {
        round[r] = to_each[r].substr(sent[r], n);
      }
      sent[r] += n;
    }
    std::vector<std::string> got = peers.exchange(std::move(round));
    for (std::size_t r = 0; r < processes; ++r) {
      if (received[r].empty()) {
        received[r] = std::move(got[r]);
      } else {
        received[r] += got[r];
      }
    }
  }
  return received;
}

std::vector<std::int64_t> counts_of_all(Peers& peers, std::int64_t mine) {
  // Exact as doubles: no count comes near 2^53.
  const double value = static_cast<double>(mine);
  const std::vector<double> all = peers.gather({&value, 1});
  return {all.begin(), all.end()};
}

InOrderOutput::InOrderOutput(Peers& peers, const std::optional<std::string>& path, bool at_once,
                             std::function<void(std::string_view)> print, std::size_t chunk)
    : peers_(peers), chunk_(chunk) {
  if (!path) {
    if (peers.leads()) sink_.emplace(std::move(print), at_once);
    return;
  }
  // The leading process makes the temporary file beside the named one; all write their parts
  // into it, and it takes its name only once all have written theirs.
  std::string temporary;
  on_leader(peers, [&] {
    staged_.emplace(kCannotWrite);
    OutFile& file = staged_->add(*path);
    temporary = staged_->temporary(0);
    if (temporary.empty()) in_place_ = &file;
  });
  peers.share(temporary, 0);
  if (!temporary.empty()) shared_.emplace(peers, temporary, *path, kCannotWrite);
}

void InOrderOutput::deliver(std::string_view text) {
  if (!in_place_) {
    sink_->take(text);
    return;
  }
  // A failed write ends the run at the end, in every process: the others are still handing in.
  if (failed_) return;
  try {
    in_place_->write(text);
  } catch (const Fatal& f) {
    failed_ = f;
  }
}

void InOrderOutput::write(std::string_view mine) {
  if (shared_) {
    shared_->write_at(shared_->take_room(static_cast<std::int64_t>(mine.size())), mine);
    return;
  }
  const std::vector<std::int64_t> sizes =
      counts_of_all(peers_, static_cast<std::int64_t>(mine.size()));
  if (peers_.leads()) deliver(mine);
  const auto chunk = static_cast<std::int64_t>(chunk_);
  for (int from = 1; from < peers_.size(); ++from) {
    for (std::int64_t at = 0; at < sizes[static_cast<std::size_t>(from)]; at += chunk) {
      std::vector<std::string> to_each(static_cast<std::size_t>(peers_.size()));
      if (peers_.rank() == from) to_each[0] = mine.substr(static_cast<std::size_t>(at), chunk_);
      const std::vector<std::string> got = peers_.exchange(std::move(to_each));
      if (peers_.leads()) deliver(got[static_cast<std::size_t>(from)]);
    }
  }
}

void InOrderOutput::finish() {
  if (shared_) shared_->close();
  on_leader(peers_, [&] {
    if (failed_) throw *failed_;
    if (sink_) sink_->finish();
    if (staged_) staged_->commit();
  });
}

}  // namespace punb::classify
