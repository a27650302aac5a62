// Arbitrary files for `zel-lux profile --json`, through the command's own
// entry point: every file is shown or refused with a message, as JSON, and
// the command returns; nothing may crash, abort or read out of bounds. The
// first byte chooses the format the file is read as.
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "tools/lux/cli/profile_cmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/zel_fuzz_profile_json_" + std::to_string(getpid());
  if (size == 0) return 0;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);
  const char* format = (data[0] & 1) ? "ies" : "eulumdat";
  const char* argv[] = {"profile", path.c_str(), "--json", "--format", format};
  std::ostringstream out, err;
  const int status = lux::run_profile(5, argv, out, err);
  if (status != 0 && status != 1) __builtin_trap();
  return 0;
}
