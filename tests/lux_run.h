// Runs the calculator's command line in this process, as a shell would run
// zel-lux, and keeps what it printed.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tools/lux/cli/cli.h"
#include "tools/lux/scene/scene.h"

struct LuxOutcome {
  int status;
  std::string out, err;
};

// `args` without the program's name.
inline LuxOutcome run_lux(std::vector<std::string> args) {
  args.insert(args.begin(), "zel-lux");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  const int status = lux::run(static_cast<int>(argv.size()), argv.data(), out, err);
  return {status, out.str(), err.str()};
}

// The message of the refusal (lux::Error) that `f` throws, or "" when it
// throws none.
template <typename F>
std::string refusal(F&& f) {
  try {
    f();
  } catch (const lux::Error& e) {
    return e.what();
  }
  return "";
}
