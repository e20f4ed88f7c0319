// The parse floor: reads and tokenizes the three input files of a corpus once, with the tool's
// own reader and parser and nothing else. Both modes are measured against this cost.
//
//   parse_floor STEM      prints: bytes, pairs, seconds, MB/s, million pairs/s
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "docfile/fatal.h"
#include "docfile/reader.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: parse_floor STEM\n");
    return 2;
  }
  const std::string stem = argv[1];
  const auto start = std::chrono::steady_clock::now();
  std::int64_t bytes = 0;
  std::int64_t pairs = 0;
  std::int64_t checksum = 0;  // keeps the pairs from being optimised away
  try {
    for (const char* suffix : {".pos", ".unlabel", ".test"}) {
      const bool test = std::string(suffix) == ".test";
      punb::DocumentParser parser(stem + suffix, "can not read", test);
      bytes += parser.reader().file_size();
      auto sink = [&](std::int32_t index, std::int32_t count) {
        ++pairs;
        checksum += index ^ count;
      };
      while (parser.next(sink)) {
      }
    }
  } catch (const punb::Fatal& e) {
    std::fprintf(stderr, "parse_floor: %s\n", e.detail().c_str());
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%lld bytes, %lld pairs, %.3f s, %.0f MB/s, %.1f Mpairs/s (checksum %lld)\n",
              static_cast<long long>(bytes), static_cast<long long>(pairs), seconds,
              static_cast<double>(bytes) / 1e6 / seconds,
              static_cast<double>(pairs) / 1e6 / seconds, static_cast<long long>(checksum));
  return 0;
}
