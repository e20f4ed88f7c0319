#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "peers/peers.h"

namespace punb {

// Thrown in every other process of a LocalGroup when one of them ends on an exception, as MPI
// ends the whole job when one process fails on its own.
class PeerLost : public std::runtime_error {
 public:
  PeerLost() : std::runtime_error("another process of the group ended") {}
};

// Processes as threads of one process: the stand-in that lets tests run the many-process path
// of a run without a launcher. Each member is the Peers of one thread.
class LocalGroup {
 public:
  explicit LocalGroup(int size);
  ~LocalGroup();
  LocalGroup(const LocalGroup&) = delete;
  LocalGroup& operator=(const LocalGroup&) = delete;

  int size() const { return static_cast<int>(members_.size()); }
  Peers& member(int rank);

  // Runs work(peers) on a thread for each member and waits for all. Returns each member's
  // exception (null when it returned); a member that ended because another failed has PeerLost.
  std::vector<std::exception_ptr> run(const std::function<void(Peers&)>& work);

 private:
  class Member;
  friend class Member;

  // Every member hands in `mine`; each gets all of them, in rank order, or what `fold` makes of
  // them (folded once, by the last member to hand in, as a reduction is computed once).
  using Fold = std::function<std::vector<std::string>(std::vector<std::string>&&)>;
  std::shared_ptr<const std::vector<std::string>> exchange(int rank, std::string mine,
                                                           const Fold& fold = {});
  void send(int from, int to, std::string message);
  std::string receive(int from, int to);
  void fail();

  std::mutex mutex_;
  std::condition_variable changed_;
  bool failed_ = false;
  // The exchange in progress: what has been handed in, and how many have taken the result.
  std::uint64_t round_ = 0;
  int handed_in_ = 0;
  int taken_ = 0;
  std::vector<std::string> slots_;
  std::shared_ptr<const std::vector<std::string>> result_;
  std::vector<std::uint64_t> reduced_;           // the last reduction's result
  std::vector<std::deque<std::string>> queues_;  // from * size + to
  std::vector<std::unique_ptr<Member>> members_;
};

}  // namespace punb
