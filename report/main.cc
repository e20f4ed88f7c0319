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
#include "report/inputs.h"
#include "report/picture.h"
#include "report/run.h"
#include "report/table.h"

namespace {

constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;
constexpr const char* kUsage = "usage: punb-report STEM [-o FILE.svg] [--tsv]\n";

struct Options {
  bool help = false;
  bool version = false;
  std::string stem;
  std::string picture;  // STEM.report.svg unless -o names another file
  punb::report::TableStyle style = punb::report::TableStyle::aligned;
};

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
    } else if (args[i].starts_with("-") || !o.stem.empty() || args[i].empty()) {
      return std::nullopt;
    } else {
      o.stem = args[i];
    }
  }
  if (o.stem.empty() || (picture && picture->empty())) return std::nullopt;
  o.picture = picture ? *picture : o.stem + ".report.svg";
  return o;
}

// A picture written over one of the run's own files would destroy that file.
void refuse_run_file_as_picture(const Options& o) {
  const punb::RunFiles files = punb::RunFiles::from_stem(o.stem);
  for (const std::string& f :
       {files.positive, files.unlabeled, files.test, files.log, files.result}) {
    std::error_code ignored;
    if (std::filesystem::equivalent(o.picture, f, ignored)) {
      throw punb::Fatal(punb::report::kBadInput, o.picture + ": this is the run's file " + f +
                                                     ", which the picture would replace");
    }
  }
}

int report(const Options& o) {
  refuse_run_file_as_picture(o);
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
