#include <cstdio>
#include <iostream>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "classify/options.h"
#include "classify/run.h"
#include "docfile/fatal.h"
#include "docfile/outfile.h"

namespace {

constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  try {
    const auto options = punb::classify::parse_options({argv + 1, argv + argc});
    if (options.help || options.version) {
      std::fputs(options.help ? punb::classify::kUsage : "punb-classify " PUNB_VERSION "\n",
                 stdout);
      return punb::checked_exit(0, "punb-classify");
    }
    punb::SoloPeers alone;
    punb::classify::run(options, std::cerr, alone);
    return punb::checked_exit(0, "punb-classify");
  } catch (const punb::classify::UsageError& e) {
    std::cerr << "punb-classify: " << e.what() << "\n" << punb::classify::kUsage;
    return kExitUsage;
  } catch (const punb::Fatal& e) {
    std::cerr << "punb-classify: " << e.detail() << "\n";
  } catch (const std::bad_alloc&) {
    std::cerr << "punb-classify: out of memory\n";
  } catch (const std::system_error& e) {
    std::cerr << "punb-classify: " << e.what() << "\n";  // a thread or lock the system refused
  }
  return kExitFatal;
}
