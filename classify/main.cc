#include <cstdio>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "classify/options.h"
#include "classify/run.h"
#include "docfile/fatal.h"

namespace {

constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;

// The lines are the run's product: if standard output could not take them, say so.
int checked_exit(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::cerr << "punb-classify: standard output: write error\n";
    return kExitFatal;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const auto options = punb::classify::parse_options({argv + 1, argv + argc});
    if (options.help || options.version) {
      std::fputs(options.help ? punb::classify::kUsage : "punb-classify " PUNB_VERSION "\n",
                 stdout);
      return checked_exit(0);
    }
    punb::classify::run(options, std::cerr);
    return checked_exit(0);
  } catch (const punb::classify::UsageError& e) {
    std::cerr << "punb-classify: " << e.what() << "\n" << punb::classify::kUsage;
    return kExitUsage;
  } catch (const punb::Fatal& e) {
    std::cerr << "punb-classify: " << e.detail() << "\n";
  } catch (const std::bad_alloc&) {
    std::cerr << "punb-classify: out of memory\n";
  }
  return kExitFatal;
}
