// The parse floor: reads and tokenizes the three input files of a corpus once, with the tool's
// own reader and parser and nothing else. Both modes are measured against this cost, and
// punb-classify against the floor of the one file it reads.
//
//   parse_floor STEM          prints: bytes, pairs, seconds, MB/s, million pairs/s
//   parse_floor --file FILE   the same for one file of training lines
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "docfile/fatal.h"
#include "docfile/reader.h"

int main(int argc, char** argv) {
  const bool one_file = argc == 3 && std::string(argv[1]) == "--file";
  if (argc != 2 && !one_file) {
    std::fprintf(stderr, "usage: parse_floor STEM | --file FILE\n");
    return 2;
  }
  const std::string stem = argv[argc - 1];
  const auto start = std::chrono::steady_clock::now();
  std::int64_t bytes = 0;
  std::int64_t pairs = 0;
  std::int64_t checksum = 0;  // keeps the pairs from being optimised away
  try {
    for (const char* suffix : {".pos", ".unlabel", ".test"}) {
      if (one_file && std::string(suffix) != ".pos") break;
      const bool test = std::string(suffix) == ".test";
      punb::DocumentParser parser(one_file ? stem : stem + suffix, "can not read", test);
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
