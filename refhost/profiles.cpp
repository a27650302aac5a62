// The light-profile service. Placeholder answers until profiles land.
#include "refhost/internal.h"

namespace refhost::detail {
miBoolean query_profile_maximum(miTag, float*) { return 0; }
}  // namespace refhost::detail

extern "C" miScalar mi_lightprofile_sample(miState*, miTag, miBoolean) { return 1.0f; }
