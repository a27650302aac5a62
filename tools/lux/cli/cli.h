// The zel-lux command line.
#pragma once

#include <ostream>

namespace lux {

// Runs the calculator on the command-line arguments, writing the summary to
// `out` and messages to `err`; returns the exit status (0 on success).
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace lux
