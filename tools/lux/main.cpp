// zel-lux: a lighting calculator that runs the zel_lumenfield plug-in in
// the reference host. See docs/lux.md.
#include <iostream>

#include "tools/lux/cli.h"

int main(int argc, char** argv) { return lux::run(argc, argv, std::cout, std::cerr); }
