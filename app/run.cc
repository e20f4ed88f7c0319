#include "app/run.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <new>
#include <optional>
#include <system_error>

#include "app/keep_model.h"
#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/progress.h"
#include "docfile/staged.h"
#include "docfile/together.h"
#include "docfile/workpool.h"
#include "finalem/purun.h"
#include "nb/nbrun.h"

namespace punb {

namespace {

// The spy step always runs one round.
constexpr int kSpyStepRounds = 1;

}  // namespace

void run_mode(const Options& o, Peers& peers) {
  // A model that could not be written would cost the whole run, and leave its other files.
  if (o.model) on_leader(peers, [&] { check_writable(*o.model, kCannotWriteModel); });
  // Read before the run, so that a vocabulary that does not parse costs no run.
  std::optional<TextVocabulary> text;
  if (o.model) text = text_vocabulary_beside(o.stem, peers.leads());
  WorkerPool pool(thread_count(static_cast<std::uint64_t>(o.threads)));
  const RunProgress progress(peers.leads(), "reading");
  TrainingSets sets{DocumentSet::file(o.files.positive), DocumentSet::file(o.files.unlabeled)};
  SavedModel model = o.mode == Mode::naive_bayes
                         ? naive_bayes_mode_run(o.smoothing_weight, sets, &o.files, pool, peers)
                         : positive_unlabeled_mode_run(
                               o.threshold_rate, o.smoothing_weight, o.spy_fraction, kSpyStepRounds,
                               sets, &o.files, o.model.has_value(), o.iterations, pool, peers);
  if (o.model) {
    model.punb_version = PUNB_VERSION;
    model.smoothing_weight = o.smoothing_weight;
    model.spy_fraction = o.spy_fraction;
    model.threshold_rate = o.threshold_rate;
    model.iterations = o.iterations;
    model.text = std::move(text);
    progress_step("writing the model");
    on_leader(peers, [&] { write_model(*o.model, model); });
  }
}

int report_usage_error(const UsageError& e, bool leads) {
  std::fputs("parameter format error!\n", stdout);
  std::fflush(stdout);
  std::cerr << "punb: " << e.what() << "\n" << kUsageSynopsis;
  if (leads) std::getchar();  // waits for a key on a console; end of input ends the wait
  return kExitUsage;
}

int report_fatal(const std::string& message, const std::string& detail) {
  std::fputs(message.c_str(), stdout);
  std::fflush(stdout);
  std::cerr << "\npunb: " << detail << "\n";
  return kExitFatal;
}

int report_failure(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const UsageError& e) {
    return report_usage_error(e, true);
  } catch (const Fatal& e) {
    return report_fatal(e.message(), e.detail());
  } catch (const std::bad_alloc&) {
    return report_fatal("out of memory", "not enough memory for the documents of this run");
  } catch (const std::system_error& e) {
    return report_fatal("system error", e.what());  // a thread or lock the system refused
  }
}

std::string help_or_version(const std::vector<std::string>& args, const char* tool) {
  // Alone, as the companions take them; anywhere else they are words the scan passes over.
  if (args.size() != 1) return {};
  if (args[0] == "--help") return name_program(kUsageSynopsis, "punb", tool);
  if (args[0] == "--version") return std::string(tool) + " " PUNB_VERSION "\n";
  return {};
}

}  // namespace punb
