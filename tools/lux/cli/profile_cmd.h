// `zel-lux profile FILE...`: a photometric file as a data sheet — header
// fields and keywords, format and symmetry, angle grid, peak intensity,
// integrated flux against the stated lamp flux, downward and upward
// fractions, beam and field angles in the two principal planes, problems
// found, and optionally a polar diagram; as text or as JSON.
#pragma once

#include <ostream>

namespace lux {

// Runs the profile command; `argv[0]` is "profile". Returns the exit
// status: 0 when every file was read, 1 when any was refused (each refusal
// names the file and the line) or the options are wrong.
int run_profile(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace lux
