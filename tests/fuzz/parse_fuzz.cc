// Fuzzes the line parser: no input may crash it, read outside the line or leave the bytes after
// the line changed, and wherever the C library's own reading is defined (no NUL byte, numbers
// within 32 bits) the parser must agree with it. The first byte chooses test or training line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "line_oracle.h"

namespace {

[[noreturn]] void mismatch(const char* what) {
  std::fprintf(stderr, "parse_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool test_line = (data[0] & 1) != 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const punb::test::Reading r = punb::test::parse_line(text, test_line);
  if (!r.slack_kept) mismatch("the bytes after the line changed");
  const bool has_nul = text.find('\0') != std::string::npos;
  if (!has_nul && r.line.fault == punb::LineFault::nul_byte) mismatch("a NUL byte seen in none");
  if (has_nul || r.line.fault == punb::LineFault::number_out_of_range) return 0;
  const punb::test::Expected e = punb::test::c_library_reading(text, test_line);
  if (r.line.fault != e.fault) mismatch("another fault than the C library's reading gives");
  if (r.pairs != e.pairs) mismatch("other pairs than the C library's reading");
  if (test_line && r.line.label != e.label) mismatch("another label than the C library's");
  return 0;
}
