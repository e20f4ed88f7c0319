#include "app/options.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace punb {

const char* const kUsageSynopsis =
    "usage: punb -nb|-kov -f STEM [-l WEIGHT] [-s FRACTION] [-rt RATE] [-i ITERATIONS] "
    "[-j THREADS] [--model FILE]\n"
    "  -nb   naive Bayes mode         -kov  positive-unlabeled mode\n"
    "  -f    reads STEM.pos, STEM.unlabel, STEM.test; writes STEM.output (and STEM.log)\n"
    "  -l    smoothing weight, > 0 (default 0.1)\n"
    "  -s    spy fraction, 0..1 (default 0.15)\n"
    "  -rt   threshold rate, 0..1 (default 0.1)\n"
    "  -i    EM iterations, >= 0 (default 8; 0 means the default)\n"
    "  -j    threads, >= 0 (default: the CPUs the process may use; 0 means the default)\n"
    "  --model  also writes the classifier whose posteriors STEM.output holds to FILE\n"
    "  punb --help | --version\n";

namespace {

enum class Key { nb, kov, stem, lambda, spy, ignored, iterations, rate, threads, model };

struct OptionEntry {
  const char* text;
  Key key;
  bool takes_value;
};

// Tested in this order against every argument; an argument matches an option when it begins
// with the option's text, and the first match wins (-nbayes is -nb, -lambda is -l).
constexpr OptionEntry kOptions[] = {
    {"-NB", Key::nb, false},    {"-nb", Key::nb, false},       {"-KOV", Key::kov, false},
    {"-kov", Key::kov, false},  {"-f", Key::stem, true},       {"-F", Key::stem, true},
    {"-l", Key::lambda, true},  {"-s", Key::spy, true},        {"-S", Key::spy, true},
    {"-e", Key::ignored, true}, {"-i", Key::iterations, true}, {"-rt", Key::rate, true},
    {"-j", Key::threads, true}, {"--model", Key::model, true},
};

const OptionEntry* match(const std::string& arg) {
  for (const OptionEntry& option : kOptions) {
    if (std::strncmp(arg.c_str(), option.text, std::strlen(option.text)) == 0) return &option;
  }
  return nullptr;
}

// Decimal values read as atof does: no number gives 0.
double to_decimal(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// Integer values read as atoi does, except that a value beyond 32 bits is refused.
std::int32_t to_integer(const std::string& text, const char* what) {
  errno = 0;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
    throw UsageError(std::string(what) + " '" + text + "' does not fit in 32 bits");
  }
  return static_cast<std::int32_t>(v);
}

void check_fraction(double v, const char* what) {
  if (!(v >= 0.0 && v <= 1.0)) {
    throw UsageError(std::string(what) + " must lie in 0..1 (got " + std::to_string(v) + ")");
  }
}

void apply_defaults_and_check(Options& o) {
  if (o.smoothing_weight == 0.0) o.smoothing_weight = 0.1;
  if (o.spy_fraction == 0.0) o.spy_fraction = 0.15;
  if (o.threshold_rate == 0.0) o.threshold_rate = 0.1;
  if (o.iterations == 0) o.iterations = 8;
  if (!o.stem.empty() && o.stem[0] == ' ') throw UsageError("the file stem begins with a space");
  // A weight of 0 or below gives word probabilities of 0 or below, whose logarithms are useless.
  if (!(o.smoothing_weight > 0.0) || !std::isfinite(o.smoothing_weight)) {
    throw UsageError("the smoothing weight must be a positive finite number (got " +
                     std::to_string(o.smoothing_weight) + ")");
  }
  check_fraction(o.spy_fraction, "the spy fraction");
  check_fraction(o.threshold_rate, "the threshold rate");
  if (o.iterations < 0) {
    throw UsageError("the iteration count must not be negative (got " +
                     std::to_string(o.iterations) + ")");
  }
  if (o.threads < 0) {
    throw UsageError("the thread count must not be negative (got " + std::to_string(o.threads) +
                     ")");
  }
  if (o.mode == Mode::none) throw UsageError("no mode given: -nb or -kov");
}

}  // namespace

Options scan_options(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t a = 0; a < args.size(); ++a) {
    const OptionEntry* option = match(args[a]);
    if (!option) continue;  // words that are no option are passed over
    if (option->key == Key::nb) o.mode = Mode::naive_bayes;
    if (option->key == Key::kov) o.mode = Mode::positive_unlabeled;
    if (!option->takes_value) continue;
    if (a + 1 == args.size()) throw UsageError(std::string(option->text) + " needs a value");
    const std::string& value = args[++a];  // taken whatever it looks like
    switch (option->key) {
      case Key::stem:
        o.stem = value;
        o.files = RunFiles::from_stem(value);
        break;
      case Key::lambda:
        o.smoothing_weight = to_decimal(value);
        break;
      case Key::spy:
        o.spy_fraction = to_decimal(value);
        break;
      case Key::rate:
        o.threshold_rate = to_decimal(value);
        break;
      case Key::iterations:
        o.iterations = to_integer(value, "the iteration count");
        break;
      case Key::threads:
        o.threads = to_integer(value, "the thread count");
        break;
      case Key::model:
        o.model = value;
        break;
      default:
        break;  // -e: read and ignored
    }
  }
  apply_defaults_and_check(o);
  return o;
}

}  // namespace punb
