#include "report/inputs.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "docfile/fatal.h"
#include "docfile/parse.h"
#include "docfile/reader.h"

namespace punb::report {

namespace {

constexpr std::string_view kSeparator = "****************************************************";
constexpr std::string_view kFirstHeader = "************< Naivebayes Result > *************";
constexpr int kFigureLines = 4;

// Over this many test documents the pair counts of the ranking could overflow.
constexpr std::size_t kMostDocuments = (std::size_t{1} << 31) - 1;

std::string iteration_header(std::int64_t t) {
  return "************<  Iteration " + std::to_string(t) + " > *************";
}

std::string section_name(std::int64_t classifier) {
  return classifier == 0 ? "the first classifier" : "iteration " + std::to_string(classifier);
}

std::string expected_header(std::int64_t classifier) {
  return classifier == 0 ? std::string(kFirstHeader) : iteration_header(classifier);
}

// The line without its line end.
std::string_view text_of(const Line& line) {
  std::string_view text(line.data, line.size);
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

// A short, printable rendering of a line for a message.
std::string excerpt(std::string_view text) {
  constexpr std::size_t kMost = 40;
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < kMost; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out + (text.size() > kMost ? "...\"" : "\"");
}

double probability_or_fail(const DocumentReader& in, const Line& line) {
  const std::optional<double> p = parse_probability(text_of(line));
  if (!p) {
    in.fail_at_line(excerpt(text_of(line)) +
                    " is not a probability (a decimal number from 0 to 1)");
  }
  return *p;
}

void refuse_too_many(const DocumentReader& in, std::size_t documents) {
  if (documents > kMostDocuments) in.fail_at_line("more test documents than this tool can rank");
}

}  // namespace

std::vector<bool> read_labels(const std::string& test_path) {
  DocumentReader in(test_path, kBadInput);
  std::vector<bool> positive;
  Line line;
  while (in.next(line)) {
    const ParsedLine parsed =
        parse_document_line(line.data, line.size, true, [](std::int32_t, std::int32_t) {});
    if (parsed.fault != LineFault::none) in.fail_at_line(parsed);
    positive.push_back(parsed.label == 1);
    refuse_too_many(in, positive.size());
  }
  return positive;
}

std::optional<double> parse_probability(std::string_view line) {
  // A leading digit keeps out signs, spaces, "inf" and "nan", which from_chars would take.
  if (line.empty() || line[0] < '0' || line[0] > '9') return std::nullopt;
  double p = 0.0;
  const auto [end, error] =
      std::from_chars(line.data(), line.data() + line.size(), p, std::chars_format::fixed);
  if (error != std::errc() || end != line.data() + line.size()) return std::nullopt;
  if (!(p >= 0.0 && p <= 1.0)) return std::nullopt;
  return p;
}

std::vector<double> read_result_file(const std::string& path, std::size_t documents,
                                     const std::string& test_path) {
  DocumentReader in(path, kBadInput);
  std::vector<double> posteriors;
  posteriors.reserve(documents);
  Line line;
  while (in.next(line)) {
    if (posteriors.size() == documents) {
      in.fail_at_line("a line beyond the " + std::to_string(documents) + " documents of " +
                      test_path);
    }
    posteriors.push_back(probability_or_fail(in, line));
  }
  if (posteriors.size() != documents) {
    throw Fatal(kBadInput, path + ":" + std::to_string(posteriors.size() + 1) +
                               ": no such line: the file ends after " +
                               std::to_string(posteriors.size()) + " probability lines, but " +
                               test_path + " holds " + std::to_string(documents) + " documents");
  }
  return posteriors;
}

std::vector<double> read_posteriors(const std::string& path) {
  DocumentReader in(path, kBadInput);
  std::vector<double> posteriors;
  Line line;
  while (in.next(line)) {
    const std::string_view text = text_of(line);
    const std::optional<double> p = parse_probability(text.substr(0, text.find('\t')));
    if (!p) {
      in.fail_at_line(excerpt(text) +
                      " does not begin with a probability (a decimal number from 0 to 1)");
    }
    posteriors.push_back(*p);
    refuse_too_many(in, posteriors.size());
  }
  return posteriors;
}

bool run_log_holds(const std::string& path, const std::vector<double>& posteriors) {
  DocumentReader in(path, kBadInput);
  std::size_t matched = 0;  // probability lines just before this one that equal the start
  bool mismatch = false;
  Line line;
  while (in.next(line)) {
    const std::string_view text = text_of(line);
    if (text == kSeparator) {
      if (!mismatch && matched == posteriors.size()) return true;
    } else if (const std::optional<double> p = parse_probability(text)) {
      if (!mismatch && matched < posteriors.size() && *p == posteriors[matched]) {
        ++matched;
        continue;
      }
      mismatch = true;
      continue;
    }
    matched = 0;
    mismatch = false;
  }
  return false;
}

std::vector<LogSection> read_run_log(const std::string& path, std::size_t documents,
                                     const std::string& test_path) {
  DocumentReader in(path, kBadInput);
  std::vector<LogSection> sections;
  Line line;
  auto next_or_fail = [&](const LogSection& s, const char* missing) {
    if (!in.next(line)) {
      in.fail_at_line("the file ends inside the section of " + section_name(s.classifier) + ": " +
                      missing + " is missing");
    }
  };
  while (in.next(line)) {
    LogSection s;
    s.classifier = static_cast<std::int64_t>(sections.size());
    while (text_of(line) != kSeparator) {
      if (s.posteriors.size() == documents) {
        in.fail_at_line("the section of " + section_name(s.classifier) + " holds more than the " +
                        std::to_string(documents) + " probability lines of " + test_path);
      }
      s.posteriors.push_back(probability_or_fail(in, line));
      next_or_fail(s, "the separator line");
    }
    if (s.posteriors.size() != documents) {
      in.fail_at_line("the section of " + section_name(s.classifier) + " holds " +
                      std::to_string(s.posteriors.size()) + " probability lines, but " + test_path +
                      " holds " + std::to_string(documents) + " documents");
    }
    next_or_fail(s, "the header");
    if (text_of(line) != expected_header(s.classifier)) {
      in.fail_at_line(excerpt(text_of(line)) + " is not the header of " +
                      section_name(s.classifier));
    }
    for (int k = 0; k < kFigureLines; ++k) {
      next_or_fail(s, "a figure line");
      if (k == 0) s.figures_line = in.line_number();
      s.figure_lines.append(line.data, line.size);
    }
    next_or_fail(s, "the empty line");
    if (!text_of(line).empty())
      in.fail_at_line(excerpt(text_of(line)) + " stands where an empty line closes the section");
    sections.push_back(std::move(s));
  }
  return sections;
}

}  // namespace punb::report
