#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace punb {

// The processes that share one run, each holding its own part of every input. Everything that
// crosses from one process to another goes through this: integer sums (exact in any order),
// running sums of doubles passed from each process to the next (so that every sum still adds its
// terms in document order), and copies of one process's values to all. A run on one process uses
// SoloPeers, where all of it is free; punb-mpi, MPI; the tests, an in-process stand-in with a
// thread for each process.
//
// Every call is collective: each process makes the same calls in the same order, with the same
// sizes.
class Peers {
 public:
  virtual ~Peers() = default;

  virtual int rank() const = 0;  // this process, 0 .. size() - 1
  virtual int size() const = 0;
  // The process that prints and writes what only one process writes.
  bool leads() const { return rank() == 0; }

  // Per entry, the sum, the smallest or the largest over all processes, in place.
  virtual void sum(std::span<std::int64_t> values) = 0;
  virtual void min(std::span<std::int64_t> values) = 0;
  virtual void max(std::span<std::int64_t> values) = 0;
  // The sum of `value` over the processes before this one (0 on the first).
  virtual std::int64_t sum_before(std::int64_t value) = 0;
  // Per entry, 1 where any process has a value other than 0.
  virtual void any(std::span<std::uint8_t> flags) = 0;

  // Running sums: receive_running overwrites `running` with what the process before passed on
  // (the last process's, for the first one), pass_running hands them to the next (the first, from
  // the last). Calls match in order between neighbours. pass_running never waits for the
  // receiver: what it passes on must stay as it is until this process's next call.
  virtual void receive_running(std::span<double> running) = 0;
  virtual void pass_running(std::span<const double> running) = 0;

  // The values of process `from`, copied to every process.
  virtual void share(std::span<double> values, int from) = 0;
  virtual void share(std::string& text, int from) = 0;
  // Every process's values, one after another in process order.
  virtual std::vector<double> gather(std::span<const double> values) = 0;
  // Each process hands in a text for every process (to_each[r] for process r) and gets what each
  // process handed in for it, in process order.
  virtual std::vector<std::string> exchange(std::vector<std::string> to_each) = 0;
  virtual void wait_for_all() = 0;

  // Conveniences over the calls above.
  std::int64_t sum(std::int64_t value) {
    sum(std::span<std::int64_t>(&value, 1));
    return value;
  }
  std::int64_t min(std::int64_t value) {
    min(std::span<std::int64_t>(&value, 1));
    return value;
  }
  std::int64_t max(std::int64_t value) {
    max(std::span<std::int64_t>(&value, 1));
    return value;
  }
};

// One process: it holds everything, and nothing needs to cross.
class SoloPeers final : public Peers {
 public:
  int rank() const override { return 0; }
  int size() const override { return 1; }
  void sum(std::span<std::int64_t>) override {}
  void min(std::span<std::int64_t>) override {}
  void max(std::span<std::int64_t>) override {}
  std::int64_t sum_before(std::int64_t) override { return 0; }
  void any(std::span<std::uint8_t> flags) override {
    for (std::uint8_t& f : flags) f = f != 0;
  }
  void receive_running(std::span<double>) override {}
  void pass_running(std::span<const double>) override {}
  void share(std::span<double>, int) override {}
  void share(std::string&, int) override {}
  std::vector<double> gather(std::span<const double> values) override {
    return {values.begin(), values.end()};
  }
  std::vector<std::string> exchange(std::vector<std::string> to_each) override { return to_each; }
  void wait_for_all() override {}
};

// Adds the terms of every process into `running`, process after process, lap after lap:
// add(lap) adds this process's terms of that lap onto what it holds. The first process of the
// first lap starts from what `running` holds; at the end every process holds the sums, each
// having added its terms in the order a single process would have.
template <class Add>
void add_in_process_order(Peers& peers, std::span<double> running, int laps, Add&& add) {
  const int last = peers.size() - 1;
  for (int lap = 0; lap < laps; ++lap) {
    if (last > 0 && (lap > 0 || peers.rank() > 0)) peers.receive_running(running);
    add(lap);
    if (last > 0 && (lap < laps - 1 || peers.rank() < last)) peers.pass_running(running);
  }
  if (last > 0) peers.share(running, last);
}

// As add_in_process_order, a range of `running` at a time, so that the processes work at once on
// different ranges: each range is received, added to and passed on before the next, and
// add(lap, begin, end) adds this process's terms of that lap to running[begin, end). `bounds`
// holds the ranges' ends in increasing order, the last one running.size(). before_lap(lap) is
// called as a lap begins, before its first range is received.
template <class Add, class BeforeLap>
void add_in_process_order_by_range(Peers& peers, std::span<double> running, int laps,
                                   std::span<const std::size_t> bounds, Add&& add,
                                   BeforeLap&& before_lap) {
  const int last = peers.size() - 1;
  for (int lap = 0; lap < laps; ++lap) {
    before_lap(lap);
    std::size_t begin = 0;
    for (const std::size_t end : bounds) {
      const std::span<double> range = running.subspan(begin, end - begin);
      if (last > 0 && (lap > 0 || peers.rank() > 0)) peers.receive_running(range);
      add(lap, begin, end);
      if (last > 0 && (lap < laps - 1 || peers.rank() < last)) peers.pass_running(range);
      begin = end;
    }
  }
  if (last > 0) peers.share(running, last);
}

template <class Add>
void add_in_process_order_by_range(Peers& peers, std::span<double> running, int laps,
                                   std::span<const std::size_t> bounds, Add&& add) {
  add_in_process_order_by_range(peers, running, laps, bounds, std::forward<Add>(add), [](int) {});
}

}  // namespace punb
