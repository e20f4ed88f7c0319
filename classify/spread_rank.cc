#include "classify/spread_rank.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "classify/lines.h"
#include "peers/packing.h"

namespace punb::classify {

namespace {

// Samples of the keys per part of the order: enough that the parts come out about even, few
// enough that every process can hold all of them.
constexpr std::size_t kSamplesPerPart = 8;

struct Key {
  double p;
  std::uint64_t document;
};

bool key_before(const Key& a, const Key& b) {
  return ranks_before(a.p, a.document, b.p, b.document);
}

// The keys that end the parts of the order, every process's the same: the part of process q
// holds the keys from ends[q - 1] (inclusive) to ends[q] (exclusive).
std::vector<Key> part_ends(Peers& peers, const std::vector<LineKey>& keys) {
  const auto processes = static_cast<std::size_t>(peers.size());
  const std::size_t n = keys.size();
  // Each process's samples in proportion to its keys, so that the samples stand for all keys.
  const auto all_keys = static_cast<std::size_t>(peers.sum(static_cast<std::int64_t>(n)));
  const std::size_t wanted = kSamplesPerPart * processes * processes;
  const std::size_t taken =
      n == 0 ? 0
             : std::min(n, std::max<std::size_t>(
                               1, static_cast<std::size_t>(static_cast<unsigned __int128>(wanted) *
                                                           n / all_keys)));
  std::vector<double> mine;
  mine.reserve(2 * taken);
  for (std::size_t i = 0; i < taken; ++i) {
    const LineKey& k = keys[(2 * i + 1) * n / (2 * taken)];
    mine.push_back(k.p);
    mine.push_back(static_cast<double>(k.document));  // exact: below 2^53
  }
  const std::vector<double> all = peers.gather(mine);
  std::vector<Key> samples;
  samples.reserve(all.size() / 2);
  for (std::size_t i = 0; i + 1 < all.size(); i += 2)
    samples.push_back({all[i], static_cast<std::uint64_t>(all[i + 1])});
  std::sort(samples.begin(), samples.end(), key_before);
  std::vector<Key> ends;
  if (samples.empty()) return ends;
  for (std::size_t q = 1; q < processes; ++q)
    ends.push_back(samples[q * samples.size() / processes]);
  return ends;
}

}  // namespace

std::string rank_lines(Peers& peers, std::string text, std::vector<LineKey> keys,
                       std::optional<std::uint64_t> top, std::size_t round_bytes) {
  std::sort(keys.begin(), keys.end(), [](const LineKey& a, const LineKey& b) {
    return ranks_before(a.p, a.document, b.p, b.document);
  });
  const std::vector<Key> ends = part_ends(peers, keys);
  // Each line with its key, to the process whose part holds it.
  constexpr std::size_t kKeyBytes = 3 * sizeof(std::uint64_t);
  std::vector<std::size_t> part_of(keys.size());
  std::vector<std::size_t> bytes(static_cast<std::size_t>(peers.size()));
  for (std::size_t i = 0, part = 0; i < keys.size(); ++i) {
    while (part < ends.size() && !key_before({keys[i].p, keys[i].document}, ends[part])) ++part;
    part_of[i] = part;
    bytes[part] += kKeyBytes + keys[i].size;
  }
  std::vector<std::string> to_each(static_cast<std::size_t>(peers.size()));
  for (std::size_t q = 0; q < to_each.size(); ++q) to_each[q].reserve(bytes[q]);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const LineKey& k = keys[i];
    std::string& out = to_each[part_of[i]];
    put(out, k.p);
    put(out, k.document);
    put(out, static_cast<std::uint64_t>(k.size));
    out.append(text, k.begin, k.size);
  }
  text = std::string();
  keys = std::vector<LineKey>();
  const std::vector<std::string> received =
      exchange_in_rounds(peers, std::move(to_each), round_bytes);

  struct Line {
    Key key;
    std::string_view text;
  };
  std::vector<Line> lines;
  for (const std::string& from : received) {
    const char* at = from.data();
    const char* const end = at + from.size();
    while (at < end) {
      const auto p = get<double>(at);
      const auto document = get<std::uint64_t>(at);
      const auto size = static_cast<std::size_t>(get<std::uint64_t>(at));
      lines.push_back({{p, document}, {at, size}});
      at += size;
    }
  }
  std::sort(lines.begin(), lines.end(),
            [](const Line& a, const Line& b) { return key_before(a.key, b.key); });
  std::size_t kept = lines.size();
  if (top) {
    const auto before =
        static_cast<std::uint64_t>(peers.sum_before(static_cast<std::int64_t>(kept)));
    kept =
        before >= *top ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(kept, *top - before));
  }
  std::size_t size = 0;
  for (std::size_t i = 0; i < kept; ++i) size += lines[i].text.size();
  std::string mine;
  mine.reserve(size);
  for (std::size_t i = 0; i < kept; ++i) mine.append(lines[i].text);
  return mine;
}

}  // namespace punb::classify
