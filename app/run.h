#pragma once

#include <exception>
#include <string>
#include <vector>

#include "app/options.h"
#include "peers/peers.h"

namespace punb {

// Runs the mode the options name on this process's share of the inputs, then keeps the model
// when --model asks for it; the leading process prints. Faults are thrown (Fatal).
void run_mode(const Options& options, Peers& peers);

// What punb prints for a command line that cannot start a run (status 2). Only the leading
// process waits for a key.
int report_usage_error(const UsageError& e, bool leads);

// What punb prints for a fault that ended the run (status 1).
int report_fatal(const std::string& message, const std::string& detail);

// What punb prints for whatever a run or its command line threw (status 2 or 1).
int report_failure(const std::exception_ptr& error);

// --help or --version as the only argument: what `tool` prints (empty for any other command line).
std::string help_or_version(const std::vector<std::string>& args, const char* tool = "punb");

inline constexpr int kExitFatal = 1;
inline constexpr int kExitUsage = 2;

}  // namespace punb
