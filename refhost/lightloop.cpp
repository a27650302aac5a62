// The host's light-sampling loop and object light areas. Placeholder.
#include "refhost/internal.h"

namespace refhost::detail {
miBoolean query_object_light_area(miTag, float*) { return 0; }
}  // namespace refhost::detail
