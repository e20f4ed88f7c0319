#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/runfiles.h"
#include "docfile/staged.h"
#include "docfile/workpool.h"
#include "report/inputs.h"
#include "report/picture.h"
#include "report/pu_report.h"
#include "report/run.h"
#include "report/table.h"

namespace {

constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;
constexpr const char* kUsage =
    "usage: punb-report STEM [-o FILE.svg] [--tsv]\n"
    "       punb-report STEM --unlabeled FILE [--prior P] [-o FILE.svg] [--tsv]\n";

struct Options {
  bool help = false;
  bool version = false;
  std::string stem;
  std::string picture;  // STEM.report.svg (STEM.pu-report.svg) unless -o names another file
  punb::report::TableStyle style = punb::report::TableStyle::aligned;
  // The figures without labelled negatives: the unlabeled documents' posteriors, and the prior
  // when it is known.
  std::string unlabeled;
  std::optional<double> prior;
};

// A prior strictly between 0 and 1, or none.
std::optional<double> prior_value(std::string_view text) {
  double p = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), p);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !(p > 0) ||
      !(p < 1)) {
    return std::nullopt;
  }
  return p;
}

// The command line, or none when it is not one.
std::optional<Options> scan_options(const std::vector<std::string_view>& args) {
  Options o;
  std::optional<std::string> picture;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "--version") {
      (args[i] == "--help" ? o.help : o.version) = true;
      return o;
    } else if (args[i] == "--tsv") {
      o.style = punb::report::TableStyle::tsv;
    } else if (args[i] == "-o") {
      if (i + 1 == args.size() || picture) return std::nullopt;
      picture = std::string(args[++i]);
    } else if (args[i] == "--unlabeled") {
      if (i + 1 == args.size() || !o.unlabeled.empty() || args[i + 1].empty()) return std::nullopt;
      o.unlabeled = args[++i];
    } else if (args[i] == "--prior") {
      if (i + 1 == args.size() || o.prior) return std::nullopt;
      if (!(o.prior = prior_value(args[++i]))) return std::nullopt;
    } else if (args[i].starts_with("-") || !o.stem.empty() || args[i].empty()) {
      return std::nullopt;
    } else {
      o.stem = args[i];
    }
  }
  if (o.stem.empty() || (picture && picture->empty()) || (o.prior && o.unlabeled.empty())) {
    return std::nullopt;
  }
  o.picture =
      picture ? *picture : o.stem + (o.unlabeled.empty() ? ".report.svg" : ".pu-report.svg");
  return o;
}

// A picture written over one of the run's own files would destroy that file.
void refuse_run_file_as_picture(const Options& o) {
  const punb::RunFiles files = punb::RunFiles::from_stem(o.stem);
  for (const std::string& f :
       {files.positive, files.unlabeled, files.test, files.log, files.result, o.unlabeled}) {
    if (f.empty()) continue;
    std::error_code ignored;
    if (std::filesystem::equivalent(o.picture, f, ignored)) {
      throw punb::Fatal(punb::report::kBadInput, o.picture + ": this is the run's file " + f +
                                                     ", which the picture would replace");
    }
  }
}

// Held-out positives against unlabeled documents.
int pu_report(const Options& o) {
  punb::WorkerPool pool(punb::thread_count(0));
  const punb::report::PuReport rep =
      punb::report::load_pu_report(o.stem, o.unlabeled, o.prior, pool);
  if (rep.negatives_left_out > 0) {
    std::cerr << "punb-report: " << rep.test_path << ": its " << rep.negatives_left_out
              << " negative lines are left out: these figures need no labelled negatives\n";
  }
  if (!rep.warning.empty()) std::cerr << "punb-report: warning: " << rep.warning << "\n";
  punb::replace_file(o.picture, punb::report::draw_pu_report(rep, o.stem), punb::report::kBadInput);
  punb::print(punb::report::format_pu_table(rep, o.style));
  return punb::checked_exit(0, "punb-report");
}

int report(const Options& o) {
  refuse_run_file_as_picture(o);
  if (!o.unlabeled.empty()) return pu_report(o);
  const punb::report::RunReport run = punb::report::load_run(o.stem);
  if (!run.note.empty()) std::cerr << "punb-report: " << run.note << "\n";
  // The picture first: a run that ends on a fault then prints no table that looks finished.
  punb::replace_file(o.picture, punb::report::draw_run(run, o.stem), punb::report::kBadInput);
  punb::print(punb::report::format_table(run.rows, o.style));
  return punb::checked_exit(0, "punb-report");
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = scan_options({argv + 1, argv + argc});
  if (!options) {
    std::cerr << kUsage;
    return kExitUsage;
  }
  if (options->help || options->version) {
    std::cout << (options->help ? kUsage : "punb-report " PUNB_VERSION "\n");
    return std::cout.flush() ? 0 : kExitFatal;
  }
  try {
    return report(*options);
  } catch (const punb::Fatal& e) {
    std::cerr << "punb-report: " << e.detail() << "\n";
  } catch (const std::bad_alloc&) {
    std::cerr << "punb-report: out of memory\n";
  } catch (const std::system_error& e) {
    std::cerr << "punb-report: " << e.what() << "\n";  // a thread or lock the system refused
  }
  return kExitFatal;
}
