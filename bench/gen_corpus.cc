// gen_corpus: writes a synthetic positive / unlabeled / test corpus for benchmarking punb.
//
// The output depends only on the command line: all randomness comes from our own xoshiro256**
// generator, and every sampling decision is made on integers.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kMaxIndex = 499999;
constexpr int kMaxWords = 10000;  // keeps every line far below 400000 characters
constexpr int64_t kMaxDocs = 1000000000;

const char kUsage[] =
    "usage: gen_corpus --out PATH_STEM [options]\n"
    "\n"
    "Writes PATH_STEM.pos, PATH_STEM.unlabel and PATH_STEM.test: one document per line as\n"
    "'index:count' pairs; test lines start with the label 1 or -1.\n"
    "\n"
    "options (default in brackets):\n"
    "  --out PATH_STEM            output path stem (required)\n"
    "  --pos N                    positive documents [2000]\n"
    "  --unlabel U                unlabeled documents [10000]\n"
    "  --test T                   test documents [2000]\n"
    "  --vocab V                  vocabulary size, 1..499999 [20000]\n"
    "  --words W                  mean distinct words per document, 1..10000;\n"
    "                             lengths are uniform in [W/2, 3W/2] [100]\n"
    "  --zipf Z                   Zipf exponent of the word distributions, 0..10 [1.1]\n"
    "  --overlap O                share of words drawn from the common background, 0..1 [0.5]\n"
    "  --unlabeled-pos-share S    share of positive documents in the unlabeled set [0.3]\n"
    "  --test-pos-share S         share of positive documents in the test set [0.3]\n"
    "  --seed SEED                random seed, unsigned 64-bit [1]\n"
    "  --scale F                  multiply the three document counts by F (rounded) [1.0]\n"
    "  --odd RATE                 probability that a line is written in an unusual but valid\n"
    "                             form, 0..1; if above 0 the files lack a final newline [0]\n"
    "  --random-order             write the pairs of a line in random order, not ascending\n"
    "  --help                     print this text and exit\n"
    "\n"
    "Exit status: 0 success, 1 I/O error, 2 bad command line.\n";

// splitmix64 expands the seed; xoshiro256** produces the stream.
uint64_t SplitMix(uint64_t& x) {
  uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

class Rng {
 public:
  Rng(uint64_t seed, uint64_t stream) {
    uint64_t x = seed ^ (stream * 0xd1b54a32d192ed03ULL);
    for (auto& w : s_) w = SplitMix(x);
  }
  uint64_t Next() {
    const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }
  // Uniform in [0, n), n > 0, without modulo bias (Lemire's method).
  uint64_t Below(uint64_t n) {
    __extension__ typedef unsigned __int128 U128;  // a GCC/Clang builtin; quiet under -Wpedantic
    U128 m = (U128)Next() * n;
    if ((uint64_t)m < n) {
      const uint64_t floor = -n % n;
      while ((uint64_t)m < floor) m = (U128)Next() * n;
    }
    return (uint64_t)(m >> 64);
  }
  int Range(int lo, int hi) { return lo + (int)Below((uint64_t)(hi - lo + 1)); }
  // True with probability p53 / 2^53.
  bool Chance(uint64_t p53) { return (Next() >> 11) < p53; }

 private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
};

uint64_t ToP53(double p) { return (uint64_t)std::llround(p * 9007199254740992.0); }

// Zipf over ranks 0..V-1 as an integer CDF scaled to 2^62, plus a guide table so a draw costs
// one short binary search. Built once; afterwards only integers decide anything.
class Zipf {
 public:
  Zipf(int v, double z) : cdf_(v) {
    std::vector<double> w(v);
    double total = 0;
    for (int r = 0; r < v; ++r) total += (w[r] = std::pow(r + 1.0, -z));
    double cum = 0;
    for (int r = 0; r < v; ++r) {
      cum += w[r];
      cdf_[r] = std::min(kOne, (uint64_t)(cum / total * (double)kOne));
    }
    cdf_[v - 1] = kOne;
    guide_.resize(kBuckets + 1);
    int r = 0;
    for (uint64_t b = 0; b <= kBuckets; ++b) {
      const uint64_t lo = std::min(kOne - 1, b << kShift);
      while (cdf_[r] <= lo) ++r;
      guide_[b] = r;
    }
  }
  int Draw(Rng& rng) const {
    const uint64_t u = rng.Next() >> 2;
    const uint64_t b = u >> kShift;
    const auto first = cdf_.begin() + guide_[b];
    const auto last = cdf_.begin() + guide_[b + 1] + 1;
    return (int)(std::upper_bound(first, last, u) - cdf_.begin());
  }

 private:
  static constexpr uint64_t kOne = 1ULL << 62;
  static constexpr int kShift = 46;
  static constexpr uint64_t kBuckets = kOne >> kShift;
  std::vector<uint64_t> cdf_;
  std::vector<int> guide_;
};

struct Options {
  std::string out;
  int64_t pos = 2000, unlabel = 10000, test = 2000;
  int64_t vocab = 20000, words = 100;
  double zipf = 1.1, overlap = 0.5, unlabeled_pos_share = 0.3, test_pos_share = 0.3;
  uint64_t seed = 1;
  double scale = 1.0, odd = 0.0;
  bool random_order = false;
};

struct Pair {
  int index;
  int count;
  enum Fmt : uint8_t { kPlain, kFraction, kZeros, kPlus } fmt = kPlain;
};

// The ways an odd line may deviate; each still has one fixed reading.
// clang-format off
enum Odd {
  kNone, kMultiSpace, kLeading, kTrailing, kCrlf, kPlusLabel, kMinusOnePair, kFraction,
  kIndexForm, kStopMarker, kEmpty, kZero, kRepeat, kLargeCount, kNumOdd
};
// clang-format on

class Generator {
 public:
  explicit Generator(const Options& o)
      : o_(o), zipf_((int)o.vocab, o.zipf), stamp_(o.vocab + 1, 0) {
    Rng rng(o.seed, 0);
    for (auto* perm : {&bg_, &topic_[0], &topic_[1]}) {
      perm->resize(o.vocab);
      for (int i = 0; i < o.vocab; ++i) (*perm)[i] = i + 1;
      for (int i = (int)o.vocab - 1; i > 0; --i) std::swap((*perm)[i], (*perm)[rng.Below(i + 1)]);
    }
    overlap_ = ToP53(o.overlap);
    odd_ = ToP53(o.odd);
  }

  // Writes n documents, npos of them positive (placed by selection sampling so the share is
  // exact). label_lines adds the true label in front. Returns false on an I/O error.
  bool WriteFile(const std::string& path, int64_t n, int64_t npos, bool label_lines,
                 uint64_t stream, uint64_t* bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return Fail("cannot open", path);
    // Odd-line choices use their own stream so --odd never changes the documents themselves.
    Rng rng(o_.seed, stream), odd_rng(o_.seed, stream + 16);
    std::string buf;
    buf.reserve(kFlushAt + (1 << 20));
    bool ok = true;
    for (int64_t i = 0; i < n && ok; ++i) {
      const bool positive = (int64_t)rng.Below(n - i) < npos;
      npos -= positive;
      MakeDoc(positive, rng);
      EmitLine(label_lines ? (positive ? 1 : -1) : 0, i + 1 == n, odd_rng, buf);
      if (buf.size() >= kFlushAt) ok = Flush(f, buf, bytes);
    }
    ok = ok && Flush(f, buf, bytes);
    if (std::fclose(f) != 0) ok = false;
    return ok || Fail("cannot write", path);
  }

 private:
  static constexpr size_t kFlushAt = 8 << 20;

  static bool Fail(const char* what, const std::string& path) {
    std::fprintf(stderr, "gen_corpus: %s %s: %s\n", what, path.c_str(), std::strerror(errno));
    return false;
  }
  static bool Flush(FILE* f, std::string& buf, uint64_t* bytes) {
    const size_t w = std::fwrite(buf.data(), 1, buf.size(), f);
    *bytes += w;
    const bool ok = w == buf.size();
    buf.clear();
    return ok;
  }

  void MakeDoc(bool positive, Rng& rng) {
    static constexpr int kCountWeights[] = {1000, 125, 37, 16, 8};  // ~1/c^3
    const std::vector<int>& topic = topic_[positive ? 0 : 1];
    const int lo = std::max<int>(1, o_.words / 2), hi = (int)(o_.words + o_.words / 2);
    const int want = std::min<int>(rng.Range(lo, hi), (int)o_.vocab);
    if (++generation_ == 0) {  // wrapped: forget stale marks
      std::fill(stamp_.begin(), stamp_.end(), 0);
      generation_ = 1;
    }
    pairs_.clear();
    // Rejection of repeats; the attempt cap only matters for tiny vocabularies.
    for (int tries = 0; (int)pairs_.size() < want && tries < 8 * want + 64; ++tries) {
      const int r = zipf_.Draw(rng);
      const int word = rng.Chance(overlap_) ? bg_[r] : topic[r];
      if (stamp_[word] == generation_) continue;
      stamp_[word] = generation_;
      int c = 1;
      for (int u = (int)rng.Below(1186); u >= kCountWeights[c - 1]; ++c) u -= kCountWeights[c - 1];
      pairs_.push_back({word, c});
    }
    if (o_.random_order) {
      for (size_t i = pairs_.size(); i > 1; --i) std::swap(pairs_[i - 1], pairs_[rng.Below(i)]);
    } else {
      std::sort(pairs_.begin(), pairs_.end(),
                [](const Pair& a, const Pair& b) { return a.index < b.index; });
    }
  }

  Odd PickOdd(int label, bool last, Rng& rng) {
    if (odd_ == 0 || !rng.Chance(odd_)) return kNone;
    for (;;) {
      const Odd k = (Odd)rng.Range(1, kNumOdd - 1);
      if (k == kPlusLabel && label != 1) continue;
      // Without a final newline, an empty last line would vanish from a training file.
      if (k == kEmpty && label == 0 && last) continue;
      return k;
    }
  }

  void EmitLine(int label, bool last, Rng& rng, std::string& out) {
    const Odd odd = PickOdd(label, last, rng);
    std::vector<Pair>& p = pairs_;
    const auto at = [&](size_t extra) { return p.begin() + rng.Below(p.size() + extra); };
    switch (odd) {
      case kMinusOnePair:
        p.insert(at(1), {-1, rng.Range(0, 9)});
        break;
      case kFraction:
      case kIndexForm: {
        const size_t forced = rng.Below(p.size());
        for (size_t i = 0; i < p.size(); ++i) {
          if (i != forced && rng.Below(4) != 0) continue;
          p[i].fmt =
              odd == kFraction ? Pair::kFraction : (rng.Below(2) ? Pair::kZeros : Pair::kPlus);
        }
        break;
      }
      case kStopMarker: {
        // Everything after -1:-1 is ignored by a reader, but still well formed.
        p.insert(at(1), {-1, -1});
        for (int j = rng.Range(1, 3); j > 0; --j) {
          p.push_back({rng.Range(0, kMaxIndex), rng.Range(0, 9)});
        }
        break;
      }
      case kEmpty:
        p.clear();
        break;
      case kZero:
        if (rng.Below(2)) {
          p.insert(p.begin(), {0, rng.Range(1, 5)});
        } else {
          at(0)->count = 0;
        }
        break;
      case kRepeat: {
        const auto it = at(0);
        p.insert(it + 1, {it->index, rng.Range(1, 3)});
        break;
      }
      case kLargeCount:
        // Counts around 2^13 and up to 2^31 - 1: a compact store must keep them all.
        if (!p.empty())
          at(0)->count = rng.Below(2) ? rng.Range(8189, 8193) : rng.Range(8194, INT32_MAX);
        break;
      default:
        break;
    }

    if (label != 0) {
      out += odd == kPlusLabel ? "+1" : (label == 1 ? "1" : "-1");
      if (!p.empty()) out += ' ';
    }
    if (odd == kLeading && !p.empty()) out.append(rng.Range(1, label != 0 ? 3 : 4), ' ');
    for (size_t i = 0; i < p.size(); ++i) {
      if (i > 0) out.append(odd == kMultiSpace ? rng.Range(2, 4) : 1, ' ');
      if (p[i].fmt == Pair::kZeros) out.append(rng.Range(1, 3), '0');
      if (p[i].fmt == Pair::kPlus) out += '+';
      AppendInt(out, p[i].index);
      out += ':';
      AppendInt(out, p[i].count);
      if (p[i].fmt == Pair::kFraction) {
        out += '.';
        out += (char)('0' + rng.Below(10));
      }
    }
    if (odd == kTrailing) out.append(rng.Range(1, 4), ' ');
    if (!(last && o_.odd > 0)) out += odd == kCrlf ? "\r\n" : "\n";
  }

  static void AppendInt(std::string& out, int v) {
    char tmp[16];
    out.append(tmp, std::to_chars(tmp, tmp + sizeof tmp, v).ptr);
  }

  const Options& o_;
  Zipf zipf_;
  std::vector<int> bg_, topic_[2];
  std::vector<uint32_t> stamp_;
  uint32_t generation_ = 0;
  uint64_t overlap_, odd_;
  std::vector<Pair> pairs_;
};

[[noreturn]] void Usage(const std::string& msg) {
  std::fprintf(stderr, "gen_corpus: %s\nTry 'gen_corpus --help'.\n", msg.c_str());
  std::exit(2);
}

template <typename T>
T Parse(const std::string& name, std::string_view s, T lo, T hi) {
  T v{};
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty() || !(v >= lo && v <= hi)) {
    Usage("bad value '" + std::string(s) + "' for " + name);
  }
  return v;
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    std::string value;
    bool has_value = false;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      has_value = true;
    }
    if (name == "--help" || name == "--random-order") {
      if (has_value) Usage(name + " takes no value");
      if (name == "--help") {
        std::fputs(kUsage, stdout);
        std::exit(0);
      }
      o.random_order = true;
      continue;
    }
    if (!has_value) {
      if (i + 1 >= argc) Usage("missing value for " + name);
      value = argv[++i];
    }
    if (name == "--out") {
      if (value.empty()) Usage("empty --out");
      o.out = value;
    } else if (name == "--pos") {
      o.pos = Parse<int64_t>(name, value, 0, kMaxDocs);
    } else if (name == "--unlabel") {
      o.unlabel = Parse<int64_t>(name, value, 0, kMaxDocs);
    } else if (name == "--test") {
      o.test = Parse<int64_t>(name, value, 0, kMaxDocs);
    } else if (name == "--vocab") {
      o.vocab = Parse<int64_t>(name, value, 1, kMaxIndex);
    } else if (name == "--words") {
      o.words = Parse<int64_t>(name, value, 1, kMaxWords);
    } else if (name == "--zipf") {
      o.zipf = Parse<double>(name, value, 0, 10);
    } else if (name == "--overlap") {
      o.overlap = Parse<double>(name, value, 0, 1);
    } else if (name == "--unlabeled-pos-share") {
      o.unlabeled_pos_share = Parse<double>(name, value, 0, 1);
    } else if (name == "--test-pos-share") {
      o.test_pos_share = Parse<double>(name, value, 0, 1);
    } else if (name == "--seed") {
      o.seed = Parse<uint64_t>(name, value, 0, UINT64_MAX);
    } else if (name == "--scale") {
      o.scale = Parse<double>(name, value, 0, 1e9);
    } else if (name == "--odd") {
      o.odd = Parse<double>(name, value, 0, 1);
    } else {
      Usage("unknown option " + name);
    }
  }
  if (o.out.empty()) Usage("--out is required");
  for (int64_t* n : {&o.pos, &o.unlabel, &o.test}) {
    const double scaled = std::round((double)*n * o.scale);
    if (scaled > (double)kMaxDocs) Usage("--scale makes more than 1e9 documents per file");
    *n = (int64_t)scaled;
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseArgs(argc, argv);
  const int64_t upos = std::llround((double)o.unlabel * o.unlabeled_pos_share);
  const int64_t tpos = std::llround((double)o.test * o.test_pos_share);
  Generator gen(o);
  uint64_t bytes = 0;
  if (!gen.WriteFile(o.out + ".pos", o.pos, o.pos, false, 1, &bytes) ||
      !gen.WriteFile(o.out + ".unlabel", o.unlabel, upos, false, 2, &bytes) ||
      !gen.WriteFile(o.out + ".test", o.test, tpos, true, 3, &bytes)) {
    return 1;
  }
  std::fprintf(stderr,
               "gen_corpus: wrote %llu bytes: %lld positive, %lld unlabeled (%lld positive), "
               "%lld test (%lld positive)\n",
               (unsigned long long)bytes, (long long)o.pos, (long long)o.unlabel, (long long)upos,
               (long long)o.test, (long long)tpos);
  return 0;
}
