#include "classify/options.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace punb::classify {

const char* const kUsage =
    R"(usage: punb-classify MODEL [options] FILE...          documents in punb's line format
       punb-classify MODEL --text [options] PATH...   text: a directory (a file a document)
                                                      or a file (a line a document)
       punb-classify MODEL --info
       punb-classify MODEL --words K [-o FILE]
       punb-classify --help | --version

Prints the positive posterior of every document under the classifier of MODEL (a file of
punb --model), in input order, one line each, as punb writes STEM.output.

  --labeled       the lines lead with test labels (1 or -1); the four figure lines of punb
                  follow the posteriors
  --ids FILE      the documents' sources, a line each (an .ids file of punb-vectorize; repeat
                  for several FILEs): each line becomes posterior<TAB>source
  --text          read text as punb-vectorize --vocab does with the model's vocabulary; each
                  line becomes posterior<TAB>source
  --rank          by decreasing posterior, ties in input order
  --top K         the K highest posteriors, ranked
  --min P         only posteriors of at least P
  --explain N     after each line a tab and the document's N words of largest contribution to
                  its log-odds, WORD:%+.4f separated by spaces (contribution: the word's count
                  in the document times its weight below)
  -o FILE         write the lines to FILE (complete, or not at all) instead of standard output
  -j N            threads (default and 0: the CPUs this process may use; at most 256 are
                  used)
  --info          print what the model file holds, and stop
  --words K       print the K words of highest weight ln P(w|pos) - ln P(w|neg), then the K of
                  lowest, a line each: %+.6f of the weight, a tab, the word (or its index when
                  the model holds no words), and stop
)";

namespace {

std::uint64_t whole_number(const std::string& option, const std::string& text, std::uint64_t low) {
  std::uint64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < low)
    throw UsageError(option + " takes a whole number from " + std::to_string(low) + ", not '" +
                     text + "'");
  return v;
}

double probability(const std::string& option, const std::string& text) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !(v >= 0) ||
      !(v <= 1))
    throw UsageError(option + " takes a number from 0 to 1, not '" + text + "'");
  return v;
}

void check_complete(const Options& o) {
  if (o.model.empty()) throw UsageError("no MODEL given");
  if (o.info && o.words) throw UsageError("--info and --words are runs of their own");
  if (o.info || o.words) {
    if (!o.files.empty())
      throw UsageError(std::string(o.info ? "--info" : "--words") + " takes no FILE");
    return;
  }
  if (o.files.empty()) throw UsageError(o.text ? "--text needs a PATH" : "no FILE given");
  if (o.text && o.labeled) throw UsageError("--labeled reads punb's test lines, not text");
  if (o.text && !o.ids.empty()) throw UsageError("--text names the sources itself; no --ids");
}

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  bool only_files = false;  // after "--"
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (only_files || a == "-" || a.empty() || a[0] != '-') {
      (o.model.empty() ? o.model : o.files.emplace_back()) = a;
      if (a.empty()) throw UsageError("an empty file name");
    } else if (a == "--") {
      only_files = true;
    } else if (a == "--text") {
      o.text = true;
    } else if (a == "--labeled") {
      o.labeled = true;
    } else if (a == "--ids") {
      o.ids.push_back(value());
    } else if (a == "--rank") {
      o.rank = true;
    } else if (a == "--top") {
      o.top = whole_number(a, value(), 1);
      o.rank = true;
    } else if (a == "--min") {
      o.min = probability(a, value());
    } else if (a == "-o") {
      o.out = value();
      if (o.out->empty()) throw UsageError("-o needs a file");
    } else if (a == "-j") {
      // As punb reads it: any count that fits in 32 bits; the run caps what it uses.
      const std::uint64_t j = whole_number(a, value(), 0);
      if (j > INT32_MAX) throw UsageError("-j takes a whole number from 0 to 2147483647");
      o.threads = static_cast<int>(j);
    } else if (a == "--explain") {
      o.explain = whole_number(a, value(), 1);
    } else if (a == "--words") {
      o.words = whole_number(a, value(), 1);
    } else if (a == "--info") {
      o.info = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else {
      throw UsageError("unknown option '" + a + "'");
    }
  }
  if (o.help || o.version) return o;
  check_complete(o);
  return o;
}

}  // namespace punb::classify
