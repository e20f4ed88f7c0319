#include <algorithm>
#include <cstdio>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/keep_model.h"
#include "app/options.h"
#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/staged.h"
#include "docfile/workpool.h"
#include "finalem/purun.h"
#include "nb/nbrun.h"

namespace {

constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;

// The spy step always runs one round.
constexpr int kSpyStepRounds = 1;

int dispatch(const punb::Options& o) {
  // A model that could not be written would cost the whole run, and leave its other files.
  if (o.model) punb::check_writable(*o.model, punb::kCannotWriteModel);
  // Read before the run, so that a vocabulary that does not parse costs no run.
  std::optional<punb::TextVocabulary> text;
  if (o.model) text = punb::text_vocabulary_beside(o.stem);
  punb::WorkerPool pool(punb::thread_count(static_cast<std::uint64_t>(o.threads)));
  punb::TrainingSets sets{punb::DocumentSet::file(o.files.positive),
                          punb::DocumentSet::file(o.files.unlabeled)};
  punb::SavedModel model =
      o.mode == punb::Mode::naive_bayes
          ? punb::naive_bayes_mode_run(o.smoothing_weight, sets, &o.files, pool)
          : punb::positive_unlabeled_mode_run(o.threshold_rate, o.smoothing_weight, o.spy_fraction,
                                              kSpyStepRounds, sets, &o.files, o.iterations, pool);
  if (o.model) {
    model.punb_version = PUNB_VERSION;
    model.smoothing_weight = o.smoothing_weight;
    model.spy_fraction = o.spy_fraction;
    model.threshold_rate = o.threshold_rate;
    model.iterations = o.iterations;
    model.text = std::move(text);
    punb::write_model(*o.model, model);
  }
  return 0;
}

int usage_error(const punb::UsageError& e) {
  std::fputs("parameter format error!\n", stdout);
  std::fflush(stdout);
  std::cerr << "punb: " << e.what() << "\n" << punb::kUsageSynopsis;
  std::getchar();  // waits for a key on a console; end of input ends the wait
  return kExitUsage;
}

int fatal(const std::string& message, const std::string& detail) {
  std::fputs(message.c_str(), stdout);
  std::fflush(stdout);
  std::cerr << "\npunb: " << detail << "\n";
  return kExitFatal;
}

}  // namespace

int main(int argc, char** argv) {
  // Alone, as the companions take them; anywhere else they are words the scan passes over.
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "--version")) {
    std::fputs(std::string(argv[1]) == "--help" ? punb::kUsageSynopsis : "punb " PUNB_VERSION "\n",
               stdout);
    return punb::checked_exit(0, "punb");
  }
  try {
    const punb::Options options = punb::scan_options({argv + 1, argv + argc});
    return punb::checked_exit(dispatch(options), "punb");
  } catch (const punb::UsageError& e) {
    return usage_error(e);
  } catch (const punb::Fatal& e) {
    return fatal(e.message(), e.detail());
  } catch (const std::bad_alloc&) {
    return fatal("out of memory", "not enough memory for the documents of this run");
  } catch (const std::system_error& e) {
    return fatal("system error", e.what());  // a thread or lock the system refused
  }
}
