#include "mpi/mpi_peers.h"

#include <climits>
#include <stdexcept>

namespace punb::mpi {

namespace {

constexpr int kRunningTag = 1;
constexpr int kExchangeTag = 2;

// MPI counts are ints: larger messages go in parts.
constexpr std::size_t kMaxCount = std::size_t{1} << 30;

void check(int status, const char* what) {
  if (status != MPI_SUCCESS) throw std::runtime_error(std::string("MPI: ") + what + " failed");
}

int count_of(std::size_t n) {
  if (n > kMaxCount) throw std::length_error("MPI: a message of more than 2^30 values");
  return static_cast<int>(n);
}

}  // namespace

MpiPeers::MpiPeers(MPI_Comm comm) : comm_(comm) {
  MPI_Comm_rank(comm_, &rank_);
  MPI_Comm_size(comm_, &size_);
}

MpiPeers::~MpiPeers() { finish_sends(); }

void MpiPeers::reduce(std::span<std::int64_t> values, MPI_Op op) {
  finish_sends();
  for (std::size_t at = 0; at < values.size(); at += kMaxCount) {
    const std::size_t n = std::min(kMaxCount, values.size() - at);
    check(MPI_Allreduce(MPI_IN_PLACE, values.data() + at, count_of(n), MPI_INT64_T, op, comm_),
          "a reduction");
  }
}

void MpiPeers::sum(std::span<std::int64_t> values) { reduce(values, MPI_SUM); }
void MpiPeers::min(std::span<std::int64_t> values) { reduce(values, MPI_MIN); }
void MpiPeers::max(std::span<std::int64_t> values) { reduce(values, MPI_MAX); }

std::int64_t MpiPeers::sum_before(std::int64_t value) {
  finish_sends();
  std::int64_t before = 0;
  check(MPI_Exscan(&value, &before, 1, MPI_INT64_T, MPI_SUM, comm_), "a prefix sum");
  return rank_ == 0 ? 0 : before;  // the first process's result is undefined
}

void MpiPeers::any(std::span<std::uint8_t> flags) {
  finish_sends();
  for (std::uint8_t& f : flags) f = f != 0;
  for (std::size_t at = 0; at < flags.size(); at += kMaxCount) {
    const std::size_t n = std::min(kMaxCount, flags.size() - at);
    check(MPI_Allreduce(MPI_IN_PLACE, flags.data() + at, count_of(n), MPI_UINT8_T, MPI_MAX, comm_),
          "a reduction");
  }
}

void MpiPeers::receive_running(std::span<double> running) {
  finish_sends(running);
  const int from = (rank_ + size_ - 1) % size_;
  check(MPI_Recv(running.data(), count_of(running.size()), MPI_DOUBLE, from, kRunningTag, comm_,
                 MPI_STATUS_IGNORE),
        "a receive");
}

void MpiPeers::pass_running(std::span<const double> running) {
  const int to = (rank_ + 1) % size_;
  Send send{MPI_REQUEST_NULL, running};
  check(MPI_Isend(running.data(), count_of(running.size()), MPI_DOUBLE, to, kRunningTag, comm_,
                  &send.request),
        "a send");
  sends_.push_back(send);
}

void MpiPeers::finish_sends(std::span<const double> overwritten) {
  const bool all = overwritten.empty();
  for (auto it = sends_.begin(); it != sends_.end();) {
    const bool overlaps = it->values.data() < overwritten.data() + overwritten.size() &&
                          overwritten.data() < it->values.data() + it->values.size();
    if (all || overlaps) {
      check(MPI_Wait(&it->request, MPI_STATUS_IGNORE), "a send");
      it = sends_.erase(it);
    } else {
      ++it;
    }
  }
}

void MpiPeers::share(std::span<double> values, int from) {
  finish_sends();
  for (std::size_t at = 0; at < values.size(); at += kMaxCount) {
    const std::size_t n = std::min(kMaxCount, values.size() - at);
    check(MPI_Bcast(values.data() + at, count_of(n), MPI_DOUBLE, from, comm_), "a broadcast");
  }
}

void MpiPeers::share(std::string& text, int from) {
  finish_sends();
  std::int64_t n = static_cast<std::int64_t>(text.size());
  check(MPI_Bcast(&n, 1, MPI_INT64_T, from, comm_), "a broadcast");
  text.resize(static_cast<std::size_t>(n));
  check(MPI_Bcast(text.data(), count_of(text.size()), MPI_CHAR, from, comm_), "a broadcast");
}

std::vector<double> MpiPeers::gather(std::span<const double> values) {
  finish_sends();
  const int mine = count_of(values.size());
  std::vector<int> counts(static_cast<std::size_t>(size_));
  check(MPI_Allgather(&mine, 1, MPI_INT, counts.data(), 1, MPI_INT, comm_), "a gather");
  std::vector<int> at(counts.size());
  std::size_t total = 0;
  for (std::size_t r = 0; r < counts.size(); ++r) {
    at[r] = count_of(total);
    total += static_cast<std::size_t>(counts[r]);
  }
  std::vector<double> all(total);
  check(MPI_Allgatherv(values.data(), mine, MPI_DOUBLE, all.data(), counts.data(), at.data(),
                       MPI_DOUBLE, comm_),
        "a gather");
  return all;
}

std::vector<std::string> MpiPeers::exchange(std::vector<std::string> to_each) {
  finish_sends();
  std::vector<int> sizes(static_cast<std::size_t>(size_));
  for (std::size_t r = 0; r < sizes.size(); ++r) sizes[r] = count_of(to_each[r].size());
  std::vector<int> incoming(sizes.size());
  check(MPI_Alltoall(sizes.data(), 1, MPI_INT, incoming.data(), 1, MPI_INT, comm_), "an exchange");
  // Each text goes straight from the sender's string into the receiver's: a large exchange is
  // copied once, not gathered into one buffer and cut apart again.
  std::vector<std::string> from_each(sizes.size());
  std::vector<MPI_Request> requests;
  for (std::size_t r = 0; r < sizes.size(); ++r) {
    if (static_cast<int>(r) == rank_ || incoming[r] == 0) continue;
    from_each[r].resize(static_cast<std::size_t>(incoming[r]));
    check(MPI_Irecv(from_each[r].data(), incoming[r], MPI_CHAR, static_cast<int>(r), kExchangeTag,
                    comm_, &requests.emplace_back()),
          "an exchange");
  }
  for (std::size_t r = 0; r < sizes.size(); ++r) {
    if (static_cast<int>(r) == rank_ || sizes[r] == 0) continue;
    check(MPI_Isend(to_each[r].data(), sizes[r], MPI_CHAR, static_cast<int>(r), kExchangeTag, comm_,
                    &requests.emplace_back()),
          "an exchange");
  }
  check(MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE),
        "an exchange");
  from_each[static_cast<std::size_t>(rank_)] = std::move(to_each[static_cast<std::size_t>(rank_)]);
  return from_each;
}

void MpiPeers::wait_for_all() {
  finish_sends();
  check(MPI_Barrier(comm_), "a barrier");
}

}  // namespace punb::mpi
