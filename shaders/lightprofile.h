// Records of the two light-profile shaders, and the naming scheme under
// which profiles live in the host's scene.
//
// A profile that the user names N is defined as "zel_lightprofile::N";
// every shader that looks a profile up by name composes the same text.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "host/shader_api.h"

// Parameters of zel_lightprofile, which defines a profile.
struct zel_lightprofile_t {
  miTag file_name;     // string: the file the host reads the profile from
  miTag profile_name;  // string: the profile's name N
  miInteger format;    // 1 IES, any other value EULUMDAT
  miInteger first_setting;
  miInteger second_setting;
  miInteger third_setting;
  miInteger fourth_setting;
};
static_assert(sizeof(zel_lightprofile_t) == 7 * 4, "seven 32-bit fields");

// Parameters of zel_lightprofile_utility, which samples a profile.
struct zel_lightprofile_utility_t {
  miTag profile;                 // a light profile given directly
  miTag profile_name;            // string: the profile's name N
  miInteger absolute_intensity;  // 1: candela; any other value: relative
};
static_assert(sizeof(zel_lightprofile_utility_t) == 3 * 4, "three 32-bit fields");

namespace zel {

inline constexpr const char* kProfileNamePrefix = "zel_lightprofile::";
inline constexpr const char* kProfileScope = "zel_lightprofile";

// Writes "zel_lightprofile::" and the first `length` characters of `name`
// into `buffer`; false, leaving an empty text, when it does not fit whole.
inline bool compose_profile_name(char* buffer, size_t size, const char* name, size_t length) {
  const size_t prefix = std::strlen(kProfileNamePrefix);
  if (size == 0) return false;
  buffer[0] = '\0';
  if (length >= size || prefix + length >= size) return false;
  std::snprintf(buffer, size, "%s%.*s", kProfileNamePrefix, static_cast<int>(length),
                name != nullptr ? name : "");
  return true;
}

// The length of a host string, reading no further than `limit` characters:
// a name that long is refused before its end is looked for.
inline size_t bounded_length(const char* text, size_t limit) {
  size_t n = 0;
  if (text != nullptr)
    while (n < limit && text[n] != '\0') ++n;
  return n;
}

}  // namespace zel
