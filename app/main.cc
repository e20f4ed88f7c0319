#include <exception>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/run.h"
#include "docfile/outfile.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (const std::string text = punb::help_or_version(args); !text.empty()) {
    punb::print(text);
    return punb::checked_exit(0, "punb");
  }
  punb::SoloPeers alone;
  try {
    punb::run_mode(punb::scan_options(args), alone);
    return punb::checked_exit(0, "punb");
  } catch (...) {
    return punb::report_failure(std::current_exception());
  }
}
