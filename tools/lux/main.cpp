// zel-lux: a lighting calculator that runs the zel_lumenfield plug-in in
// the reference host. See docs/lux.md.
#include <iostream>

#include "tools/lux/cli/cli.h"
#include "tools/lux/cli/interrupt.h"
#include "tools/lux/report/outputs.h"

int main(int argc, char** argv) {
  // Told to stop, the calculator removes what it was writing first.
  lux::on_termination_signals(lux::discard_unfinished_outputs);
  return lux::run(argc, argv, std::cout, std::cerr);
}
