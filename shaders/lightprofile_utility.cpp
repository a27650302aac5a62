// zel_lightprofile_utility: the host's sample of a light profile for the
// current state, as one float.
//
// The profile is chosen once per shader instance, at init: given directly,
// or found by its name N as "zel_lightprofile::N". Without one the shader
// answers 1.0, a neutral factor for whatever it drives.
#include "host/param.h"
#include "shaders/export.h"
#include "shaders/lightprofile.h"

using zel::eval;

namespace {

// Per-instance record: the chosen profile, 0 for none.
struct lightprofile_utility_user {
  miTag profile;
};

constexpr size_t kNameBufferSize = 256;
constexpr float kNoProfileValue = 1.0f;

constexpr const char* kNoProfile = "Zel_lightprofile_utility: No light profile selected";
constexpr const char* kNotFound = "Zel_lightprofile_utility: Profile name not found";
constexpr const char* kNameTooLong = "Zel_lightprofile_utility: Profile name too long";

// The instance's user-pointer slot, or null when the host has none.
void** user_slot(miState* state) {
  void** slot = nullptr;
  mi_query(miQ_FUNC_USERPTR, state, 0, &slot);
  return slot;
}

// The profile registered under the name in the string `name_tag`, or 0
// (with a warning).
miTag find_by_name(miTag name_tag) {
  char name[kNameBufferSize];
  const char* text = static_cast<const char*>(mi_db_access(name_tag));
  const size_t length = zel::bounded_length(text, kNameBufferSize);
  const bool fits = zel::compose_profile_name(name, sizeof name, text, length);
  if (text != nullptr) mi_db_unpin(name_tag);
  if (!fits) {
    mi_warning("%s", kNameTooLong);
    return 0;
  }
  const miTag tag = mi_api_lightprofile_lookup(mi_mem_int_strdup(__FILE__, __LINE__, name));
  if (tag == 0) mi_warning("%s", kNotFound);
  return tag;
}

}  // namespace

ZEL_EXPORT int zel_lightprofile_utility_version(void) { return 1; }

ZEL_EXPORT void zel_lightprofile_utility_init(miState* state, zel_lightprofile_utility_t* params,
                                              miBoolean* wants_instance_init) {
  if (params == nullptr) {
    if (wants_instance_init != nullptr) *wants_instance_init = 1;
    return;
  }
  void** slot = user_slot(state);
  if (slot == nullptr) return;  // nowhere to keep a record: every call gives 1.0
  auto* user = static_cast<lightprofile_utility_user*>(
      mi_mem_int_allocate(__FILE__, __LINE__, sizeof(lightprofile_utility_user)));
  user->profile = 0;
  *slot = user;

  // Both tags are read in place: the choice is made once, here.
  if (params->profile != 0 && mi_db_type(params->profile) == miSCENE_LIGHTPROFILE) {
    user->profile = params->profile;
    return;
  }
  if (params->profile_name == 0) {
    mi_warning("%s", kNoProfile);
    return;
  }
  user->profile = find_by_name(params->profile_name);
}

// Candela towards the state's ray direction with `absolute_intensity` 1,
// else the fraction of the profile's reference intensity; 1.0 without a
// profile.
ZEL_EXPORT miBoolean zel_lightprofile_utility(miScalar* result, miState* state,
                                              zel_lightprofile_utility_t* params) {
  const miInteger absolute = eval(state, &params->absolute_intensity);
  void** slot = user_slot(state);
  *result = kNoProfileValue;
  const auto* user =
      slot != nullptr ? static_cast<const lightprofile_utility_user*>(*slot) : nullptr;
  if (user == nullptr || user->profile == 0) return 1;
  *result = mi_lightprofile_sample(state, user->profile, absolute == 1 ? 0 : 1);
  return 1;
}

// Frees the record and clears the slot, so that a call or an exit that
// comes late finds no record instead of a released one.
ZEL_EXPORT void zel_lightprofile_utility_exit(miState* state, zel_lightprofile_utility_t* params) {
  if (params == nullptr) return;
  void** slot = user_slot(state);
  if (slot == nullptr || *slot == nullptr) return;
  mi_mem_int_release(__FILE__, __LINE__, *slot);
  *slot = nullptr;
}
