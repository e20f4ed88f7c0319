#include "vectorize/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "docfile/workpool.h"

namespace punb::vectorize {

const char* const kUsage =
    R"(usage: punb-vectorize -o STEM --pos PATH... --unlabel PATH... [--test-pos PATH...] [--test-neg PATH...] [options]
       punb-vectorize -o STEM --vocab FILE [--pos PATH...] [--unlabel PATH...] [--test-pos PATH...] [--test-neg PATH...] [options]

Turns text into punb's input files. A PATH that is a directory: every regular file below it is
one document. A PATH that is a file: every line is one document. Writes STEM.pos, STEM.unlabel
and STEM.test for the sets given, STEM.<set>.ids (the source of each line), STEM.vocab and
STEM.vocab.options (how the words were read).

  -o STEM                  stem of the files written
  --pos PATH...            positive training documents
  --unlabel PATH...        unlabeled training documents
  --test-pos PATH...       positive test documents (label 1)
  --test-neg PATH...       negative test documents (label -1)
  --vocab FILE             number words by this vocabulary instead of building one
  --no-fold                keep words as written (default: NFKC_Casefold)
  --min-length N           drop words of fewer than N code points (default 1)
  --stop-words FILE|english  drop these words (one per line, folded like the text)
  --min-df N               keep words found in at least N training documents (default 1)
  --max-df F               drop words found in more than this fraction of them (default 1.0)
  --max-words N            keep the N words of highest document frequency (default and at
                           most 499999)
  --holdout F              write a random share F (0 to 1) of the positive documents to
                           STEM.test, label 1, and to STEM.unlabel instead of STEM.pos:
                           held-out positives
  --seed N                 the seed of that draw, 0 to 18446744073709551615 (default 1)
  -j N                     threads (default and 0: the CPUs this process may use; at most
                           256 are used)
  --help                   this text
  --version                the version
)";

namespace {

bool looks_like_option(const std::string& s) { return s.size() > 1 && s[0] == '-'; }

template <class Int>
Int whole_number(const std::string& option, const std::string& text, Int low, Int high) {
  Int value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < low ||
      value > high) {
    throw UsageError(option + " takes a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not '" + text + "'");
  }
  return value;
}

// A fraction above 0 (or from 0 when `zero` is allowed) and at most 1.
double fraction(const std::string& option, const std::string& text, bool zero = false) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value) || value < 0 || (value == 0 && !zero) || value > 1) {
    throw UsageError(option + " takes a fraction " + (zero ? "from 0" : "above 0") +
                     " and at most 1, not '" + text + "'");
  }
  return value;
}

struct PathOption {
  const char* name;
  SetKind set;
  int label;
};
constexpr PathOption kPathOptions[] = {{"--pos", SetKind::positive, 0},
                                       {"--unlabel", SetKind::unlabeled, 0},
                                       {"--test-pos", SetKind::test, 1},
                                       {"--test-neg", SetKind::test, -1}};

void check_complete(const Options& o, const std::vector<std::string>& limit_options,
                    bool seed_given) {
  if (o.stem.empty()) throw UsageError("-o STEM is missing");
  if (seed_given && !o.holdout) throw UsageError("--seed draws the documents of --holdout");
  if (o.holdout && !o.has(SetKind::positive))
    throw UsageError("--holdout takes positive documents: give them with --pos");
  if (o.vocabulary_file.empty()) {
    if (!o.has(SetKind::positive) || !o.has(SetKind::unlabeled))
      throw UsageError("building a vocabulary needs --pos and --unlabel (or give --vocab FILE)");
    return;
  }
  if (o.inputs.empty()) throw UsageError("--vocab needs at least one set of documents to write");
  if (!limit_options.empty())
    throw UsageError(limit_options.front() +
                     " shapes a new vocabulary; it has no effect with --vocab");
}

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> limit_options;  // given, to refuse them with --vocab
  bool seed_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string inline_value;
    bool has_inline = false;
    if (name.starts_with("--") && name.find('=') != std::string::npos) {
      inline_value = name.substr(name.find('=') + 1);
      name.resize(name.find('='));
      has_inline = true;
    }
    auto value = [&]() -> std::string {
      if (has_inline) return inline_value;
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      return args[++i];
    };
    const auto path_option = std::find_if(std::begin(kPathOptions), std::end(kPathOptions),
                                          [&](const PathOption& p) { return name == p.name; });
    if (path_option != std::end(kPathOptions)) {
      const std::size_t before = o.inputs.size();
      if (has_inline) o.inputs.push_back({inline_value, path_option->set, path_option->label});
      while (i + 1 < args.size() && !looks_like_option(args[i + 1]))
        o.inputs.push_back({args[++i], path_option->set, path_option->label});
      if (o.inputs.size() == before || o.inputs.back().path.empty())
        throw UsageError(name + " needs at least one PATH");
    } else if (name == "-o") {
      o.stem = value();
      if (o.stem.empty()) throw UsageError("-o needs a stem");
    } else if (name == "--vocab") {
      o.vocabulary_file = value();
      if (o.vocabulary_file.empty()) throw UsageError("--vocab needs a file");
    } else if (name == "--no-fold") {
      o.words.fold = false;
    } else if (name == "--min-length") {
      o.words.min_length = whole_number<std::size_t>(name, value(), 1, 1000000);
    } else if (name == "--stop-words") {
      o.words.stop_words = value();
      if (o.words.stop_words.empty()) throw UsageError("--stop-words needs a file or 'english'");
    } else if (name == "--min-df") {
      o.limits.min_documents = whole_number<std::uint64_t>(name, value(), 1, UINT64_MAX);
      limit_options.push_back(name);
    } else if (name == "--max-df") {
      o.limits.max_share = fraction(name, value());
      limit_options.push_back(name);
    } else if (name == "--max-words") {
      o.limits.max_words = whole_number<std::uint32_t>(name, value(), 1, words::kMaxIndex);
      limit_options.push_back(name);
    } else if (name == "--holdout") {
      o.holdout = fraction(name, value(), true);
    } else if (name == "--seed") {
      o.seed = whole_number<std::uint64_t>(name, value(), 0, UINT64_MAX);
      seed_given = true;
    } else if (name == "-j") {
      // As punb reads it: any count that fits in 32 bits, of which kMaxThreads are used.
      o.threads =
          static_cast<int>(thread_count(whole_number<std::uint32_t>(name, value(), 0, INT32_MAX)));
    } else if (name == "--help" || name == "-h") {
      o.help = true;
    } else if (name == "--version") {
      o.version = true;
    } else if (looks_like_option(name)) {
      throw UsageError("unknown option '" + name + "'");
    } else {
      throw UsageError("'" + name + "' is no option; PATHs follow --pos, --unlabel, --test-pos " +
                       "or --test-neg");
    }
  }
  if (o.help || o.version) return o;
  check_complete(o, limit_options, seed_given);
  // Training files are read first, by both passes; each set keeps the order given.
  std::stable_sort(o.inputs.begin(), o.inputs.end(),
                   [](const InputPath& a, const InputPath& b) { return a.set < b.set; });
  if (o.threads == 0) o.threads = default_thread_count();
  return o;
}

int default_thread_count() { return static_cast<int>(thread_count(0)); }

}  // namespace punb::vectorize
