#pragma once

#include <string>
#include <vector>

#include "report/run.h"

namespace punb::report {

// The figures of every row, as plain columns aligned for reading, or as tab-separated values
// with a header line for other programs.
enum class TableStyle { aligned, tsv };

std::string format_table(const std::vector<ClassifierRow>& rows, TableStyle style);

// A posterior or threshold as punb writes it: 16 decimals.
std::string posterior_text(double p);

}  // namespace punb::report
