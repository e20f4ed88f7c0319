// Fuzzes the model file reader: any input ends in a refusal naming the file and line, or in a
// model that writes back to a file the reader takes again unchanged and that makes a scorer.
// Inputs of even length get a correct checksum first, so that the fields behind it are reached.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "docfile/fatal.h"
#include "nb/modelfile.h"

namespace {

std::string resealed(std::string text) {
  const std::size_t at = text.rfind("checksum fnv1a64 ");
  if (at != std::string::npos && (at == 0 || text[at - 1] == '\n')) text.resize(at);
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  char line[48];
  std::snprintf(line, sizeof line, "checksum fnv1a64 %016llx\n",
                static_cast<unsigned long long>(h));
  return text + line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (size % 2 == 0) text = resealed(std::move(text));
  punb::SavedModel model;
  try {
    model = punb::parse_model_file(text, "m");
  } catch (const punb::Fatal& e) {
    if (e.message() != punb::kBadModelFile || e.detail().rfind("m:", 0) != 0) std::abort();
    return 0;
  }
  const std::string written = punb::format_model_file(model);
  if (punb::format_model_file(punb::parse_model_file(written, "again")) != written) std::abort();
  const punb::Classifier scorer(model);  // a "degenerate model" here would be a reader's fault
  return 0;
}
