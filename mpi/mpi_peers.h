#pragma once

#include <mpi.h>

#include <string>
#include <vector>

#include "peers/peers.h"

namespace punb::mpi {

// The processes of an MPI job as the Peers of a run. Only the thread that made it calls MPI.
class MpiPeers final : public Peers {
 public:
  explicit MpiPeers(MPI_Comm comm);
  ~MpiPeers() override;
  MpiPeers(const MpiPeers&) = delete;
  MpiPeers& operator=(const MpiPeers&) = delete;

  int rank() const override { return rank_; }
  int size() const override { return size_; }
  void sum(std::span<std::int64_t> values) override;
  void min(std::span<std::int64_t> values) override;
  void max(std::span<std::int64_t> values) override;
  std::int64_t sum_before(std::int64_t value) override;
  void any(std::span<std::uint8_t> flags) override;
  void receive_running(std::span<double> running) override;
  void pass_running(std::span<const double> running) override;
  void share(std::span<double> values, int from) override;
  void share(std::string& text, int from) override;
  std::vector<double> gather(std::span<const double> values) override;
  std::vector<std::string> exchange(std::vector<std::string> to_each) override;
  void wait_for_all() override;

 private:
  void reduce(std::span<std::int64_t> values, MPI_Op op);
  // Waits until the running sums passed on have been taken (only those that lie in `overwritten`,
  // when given): their values are read from the caller's memory until then.
  void finish_sends(std::span<const double> overwritten = {});

  MPI_Comm comm_;
  int rank_ = 0;
  int size_ = 1;
  // Passed on, not yet taken. The sender goes on at once: with every process passing to the next
  // around a ring, a send that waited for its receiver could wait for ever.
  struct Send {
    MPI_Request request;
    std::span<const double> values;
  };
  std::vector<Send> sends_;
};

}  // namespace punb::mpi
