// Arbitrary files for the IES and EULUMDAT readers: refused with a message
// or read into a consistent table, never a crash or an over-read.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "refhost/profiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/zel_fuzz_profile_" + std::to_string(getpid());
  if (size == 0) return 0;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);
  refhost::ProfileTable table;
  std::string error;
  const int format = (data[0] & 1) ? 1 : 2;
  if (refhost::read_profile_file(path, format, table, error)) {
    if (table.candela.size() != table.vertical.size() * table.horizontal.size()) __builtin_trap();
    refhost::sample_table(table, miVector{0.3f, -0.2f, -0.9f});
  } else if (error.empty()) {
    __builtin_trap();  // a refusal must say why
  }
  return 0;
}
