// Reading IES and EULUMDAT files. Placeholder until the readers land.
#include "refhost/profiles.h"

namespace refhost {

bool read_profile_file(const std::string& path, int, ProfileTable&, std::string& error) {
  error = path + ": profile files cannot be read yet";
  return false;
}

}  // namespace refhost
