#pragma once

// What every implementation of Peers must do, checked from inside each process: the same calls
// in every process, and what each one must get back. Returns what went wrong, empty when nothing.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "peers/peers.h"

namespace punb::test {

inline std::string check_peers(Peers& peers) {
  std::string wrong;
  auto expect = [&](bool ok, const std::string& what) {
    if (!ok) wrong += "process " + std::to_string(peers.rank()) + ": " + what + "\n";
  };
  const int r = peers.rank();
  const int n = peers.size();

  std::int64_t values[] = {r + 1, -r, 1000 * r};
  peers.sum(values);
  expect(values[0] == n * (n + 1) / 2 && values[1] == -n * (n - 1) / 2 &&
             values[2] == 1000 * n * (n - 1) / 2,
         "sum");
  expect(peers.min(10 - r) == 10 - (n - 1) && peers.max(10 - r) == 10, "min, max");
  expect(peers.sum_before(r + 1) == r * (r + 1) / 2, "sum_before");

  std::vector<std::uint8_t> flags(70000, 0);
  flags[static_cast<std::size_t>(r)] = 1;
  flags[69999] = r == n - 1 ? 7 : 0;
  peers.any(flags);
  bool flags_ok = flags[69999] == 1 && flags[69998] == 0;
  for (int k = 0; k < n; ++k) flags_ok = flags_ok && flags[static_cast<std::size_t>(k)] == 1;
  expect(flags_ok, "any");

  // Running sums: each process adds terms that round differently in any other order; every
  // process must end with the sums one process adding the terms in order gets.
  auto terms = [](int process, int lap) {
    return std::vector<double>{std::ldexp(1.0, 53) * (process % 2 ? -1 : 1), 1.0 + lap,
                               0.1 * (process + 1), 3.0 * lap - process};
  };
  std::vector<double> expected(2, 0.0);
  for (int lap = 0; lap < 2; ++lap) {
    for (int p = 0; p < n; ++p) {
      for (double t : terms(p, lap)) {
        expected[0] += t;
        expected[1] += t * t;
      }
    }
  }
  std::vector<double> running(2, 0.0);
  add_in_process_order(peers, running, 2, [&](int lap) {
    for (double t : terms(r, lap)) {
      running[0] += t;
      running[1] += t * t;
    }
  });
  expect(running == expected, "add_in_process_order");

  std::vector<double> shared = {r == n - 1 ? 2.5 : 0.0, static_cast<double>(r)};
  peers.share(shared, n - 1);
  expect(shared == std::vector<double>{2.5, static_cast<double>(n - 1)}, "share values");
  std::string text = r == 0 ? std::string(100000, 'x') : "";
  peers.share(text, 0);
  expect(text == std::string(100000, 'x'), "share text");

  std::vector<double> mine(static_cast<std::size_t>(r), static_cast<double>(r));
  std::vector<double> all_expected;
  for (int p = 0; p < n; ++p)
    all_expected.insert(all_expected.end(), static_cast<std::size_t>(p), p);
  expect(peers.gather(mine) == all_expected, "gather");

  std::vector<std::string> to_each;
  for (int p = 0; p < n; ++p) to_each.push_back(std::to_string(r) + ">" + std::to_string(p));
  to_each[static_cast<std::size_t>(n - 1)] += std::string(static_cast<std::size_t>(r) * 5000, 'y');
  const std::vector<std::string> from_each = peers.exchange(to_each);
  bool exchanged = from_each.size() == static_cast<std::size_t>(n);
  for (int p = 0; exchanged && p < n; ++p) {
    std::string want = std::to_string(p) + ">" + std::to_string(r);
    if (r == n - 1) want += std::string(static_cast<std::size_t>(p) * 5000, 'y');
    exchanged = from_each[static_cast<std::size_t>(p)] == want;
  }
  expect(exchanged, "exchange");
  peers.wait_for_all();
  return wrong;
}

}  // namespace punb::test
