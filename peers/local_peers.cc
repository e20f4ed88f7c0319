#include "peers/local_peers.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace punb {

namespace {

template <class T>
std::string bytes_of(std::span<const T> values) {
  return {reinterpret_cast<const char*>(values.data()), values.size_bytes()};
}

template <class T>
void copy_into(std::span<T> values, const std::string& bytes) {
  if (bytes.size() != values.size_bytes()) throw std::logic_error("peers: sizes differ");
  if (!bytes.empty()) std::memcpy(values.data(), bytes.data(), bytes.size());
}

}  // namespace

class LocalGroup::Member final : public Peers {
 public:
  Member(LocalGroup& group, int rank) : group_(group), rank_(rank) {}

  int rank() const override { return rank_; }
  int size() const override { return group_.size(); }

  void sum(std::span<std::int64_t> values) override {
    combine(values, [](std::int64_t a, std::int64_t b) { return a + b; });
  }
  void min(std::span<std::int64_t> values) override {
    combine(values, [](std::int64_t a, std::int64_t b) { return std::min(a, b); });
  }
  void max(std::span<std::int64_t> values) override {
    combine(values, [](std::int64_t a, std::int64_t b) { return std::max(a, b); });
  }
  std::int64_t sum_before(std::int64_t value) override {
    const auto all = group_.exchange(rank_, bytes_of(std::span<const std::int64_t>(&value, 1)));
    std::int64_t before = 0;
    for (int r = 0; r < rank_; ++r) {
      std::int64_t v;
      copy_into(std::span<std::int64_t>(&v, 1), (*all)[static_cast<std::size_t>(r)]);
      before += v;
    }
    return before;
  }
  void any(std::span<std::uint8_t> flags) override {
    combine(flags, [](std::uint8_t a, std::uint8_t b) -> std::uint8_t { return a || b ? 1 : 0; });
    for (std::uint8_t& f : flags) f = f != 0;  // a group of one combines nothing
  }
  void receive_running(std::span<double> running) override {
    copy_into(running, group_.receive((rank_ + size() - 1) % size(), rank_));
  }
  void pass_running(std::span<const double> running) override {
    group_.send(rank_, (rank_ + 1) % size(), bytes_of(running));
  }
  // Only the sharing member hands in its values, as a broadcast sends them from there alone.
  void share(std::span<double> values, int from) override {
    const auto all = group_.exchange(
        rank_, rank_ == from ? bytes_of(std::span<const double>(values)) : std::string());
    if (rank_ != from) copy_into(values, (*all)[static_cast<std::size_t>(from)]);
  }
  void share(std::string& text, int from) override {
    const auto all = group_.exchange(rank_, rank_ == from ? text : std::string());
    if (rank_ != from) text = (*all)[static_cast<std::size_t>(from)];
  }
  std::vector<double> gather(std::span<const double> values) override {
    std::vector<double> out;
    const auto all = group_.exchange(rank_, bytes_of(values));
    for (const std::string& part : *all) {
      const std::size_t n = part.size() / sizeof(double);
      if (n == 0) continue;
      out.resize(out.size() + n);
      std::memcpy(out.data() + out.size() - n, part.data(), part.size());
    }
    return out;
  }
  std::vector<std::string> exchange(std::vector<std::string> to_each) override {
    for (int r = 0; r < size(); ++r) {
      group_.send(rank_, r, std::move(to_each[static_cast<std::size_t>(r)]));
    }
    std::vector<std::string> from_each(static_cast<std::size_t>(size()));
    for (int r = 0; r < size(); ++r)
      from_each[static_cast<std::size_t>(r)] = group_.receive(r, rank_);
    return from_each;
  }
  void wait_for_all() override { group_.exchange(rank_, {}); }

 private:
  // Reduced once for the group, in a buffer it keeps, from the members' own values (they wait in
  // the exchange meanwhile): the group's work grows with its size, not its square, and no member
  // copies its table into fresh memory for it, as MPI reduces in place.
  template <class T, class Op>
  void combine(std::span<T> values, Op op) {
    const T* mine = values.data();
    group_.exchange(rank_, std::string(reinterpret_cast<const char*>(&mine), sizeof mine),
                    [&](std::vector<std::string>&& in) {
                      std::vector<std::uint64_t>& buffer = group_.reduced_;
                      buffer.resize((values.size_bytes() + 7) / 8);
                      T* out = reinterpret_cast<T*>(buffer.data());
                      for (std::size_t r = 0; r < in.size(); ++r) {
                        const T* other;
                        std::memcpy(&other, in[r].data(), sizeof other);
                        for (std::size_t i = 0; i < values.size(); ++i) {
                          out[i] = r == 0 ? other[i] : op(out[i], other[i]);
                        }
                      }
                      return std::vector<std::string>();
                    });
    // The buffer stays as it is until every member has handed in again.
    if (!values.empty()) std::memcpy(values.data(), group_.reduced_.data(), values.size_bytes());
  }

  LocalGroup& group_;
  int rank_;
};

LocalGroup::LocalGroup(int size)
    : slots_(static_cast<std::size_t>(size)),
      queues_(static_cast<std::size_t>(size) * static_cast<std::size_t>(size)) {
  for (int r = 0; r < size; ++r) members_.push_back(std::make_unique<Member>(*this, r));
}

LocalGroup::~LocalGroup() = default;

Peers& LocalGroup::member(int rank) { return *members_[static_cast<std::size_t>(rank)]; }

std::shared_ptr<const std::vector<std::string>> LocalGroup::exchange(int rank, std::string mine,
                                                                     const Fold& fold) {
  std::unique_lock lock(mutex_);
  // A new exchange waits until every member has taken the last one's result.
  changed_.wait(lock, [&] { return failed_ || taken_ == 0; });
  if (failed_) throw PeerLost();
  const std::uint64_t round = round_;
  slots_[static_cast<std::size_t>(rank)] = std::move(mine);
  if (++handed_in_ == size()) {
    result_ = std::make_shared<const std::vector<std::string>>(fold ? fold(std::move(slots_))
                                                                    : std::move(slots_));
    slots_.assign(static_cast<std::size_t>(size()), {});
    handed_in_ = 0;
    taken_ = size();
    ++round_;
    changed_.notify_all();
  } else {
    changed_.wait(lock, [&] { return failed_ || round_ != round; });
    if (round_ == round) throw PeerLost();  // what was handed in before a failure still counts
  }
  std::shared_ptr<const std::vector<std::string>> all = result_;
  if (--taken_ == 0) {
    result_.reset();
    changed_.notify_all();
  }
  return all;
}

void LocalGroup::send(int from, int to, std::string message) {
  std::lock_guard lock(mutex_);
  queues_[static_cast<std::size_t>(from * size() + to)].push_back(std::move(message));
  changed_.notify_all();
}

std::string LocalGroup::receive(int from, int to) {
  std::unique_lock lock(mutex_);
  auto& queue = queues_[static_cast<std::size_t>(from * size() + to)];
  changed_.wait(lock, [&] { return failed_ || !queue.empty(); });
  if (queue.empty()) throw PeerLost();
  std::string message = std::move(queue.front());
  queue.pop_front();
  return message;
}

void LocalGroup::fail() {
  std::lock_guard lock(mutex_);
  failed_ = true;
  changed_.notify_all();
}

std::vector<std::exception_ptr> LocalGroup::run(const std::function<void(Peers&)>& work) {
  std::vector<std::exception_ptr> errors(members_.size());
  std::vector<std::thread> threads;
  for (int r = 0; r < size(); ++r) {
    threads.emplace_back([&, r] {
      try {
        work(member(r));
      } catch (...) {
        errors[static_cast<std::size_t>(r)] = std::current_exception();
        fail();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  return errors;
}

}  // namespace punb
