// Fuzzes the option scan with argument lists (the input split at NUL bytes): it must end in a
// usage error or in settings a run can use, never crash.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size && args.size() <= 64; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  try {
    const punb::Options o = punb::scan_options(args);
    const bool usable = o.mode != punb::Mode::none && o.smoothing_weight > 0 &&
                        std::isfinite(o.smoothing_weight) && o.spy_fraction > 0 &&
                        o.spy_fraction <= 1 && o.threshold_rate > 0 && o.threshold_rate <= 1 &&
                        o.iterations >= 1 && (o.stem.empty() || o.stem[0] != ' ') &&
                        (o.files.positive.empty() || o.files.positive == o.stem + ".pos");
    if (!usable) std::abort();
  } catch (const punb::UsageError&) {
  }
  return 0;
}
