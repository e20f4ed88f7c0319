#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "docfile/fatal.h"
#include "vectorize/options.h"
#include "vectorize/run.h"

namespace {

constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  try {
    const auto options = punb::vectorize::parse_options({argv + 1, argv + argc});
    if (options.help || options.version) {
      std::cout << (options.help ? punb::vectorize::kUsage : "punb-vectorize " PUNB_VERSION "\n");
      return std::cout.flush() ? 0 : kExitFatal;
    }
    punb::vectorize::run(options, std::cerr);
    return 0;
  } catch (const punb::vectorize::UsageError& e) {
    std::cerr << "punb-vectorize: " << e.what() << "\n" << punb::vectorize::kUsage;
    return kExitUsage;
  } catch (const punb::Fatal& e) {
    std::cerr << "punb-vectorize: " << e.detail() << "\n";
  } catch (const std::bad_alloc&) {
    std::cerr << "punb-vectorize: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "punb-vectorize: " << e.what() << "\n";
  }
  return kExitFatal;
}
