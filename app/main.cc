#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "app/options.h"
#include "app/run.h"
#include "docfile/fatal.h"
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
  } catch (const punb::UsageError& e) {
    return punb::report_usage_error(e, true);
  } catch (const punb::Fatal& e) {
    return punb::report_fatal(e.message(), e.detail());
  } catch (const std::bad_alloc&) {
    return punb::report_fatal("out of memory", "not enough memory for the documents of this run");
  } catch (const std::system_error& e) {
    return punb::report_fatal("system error", e.what());  // a thread or lock the system refused
  }
}
