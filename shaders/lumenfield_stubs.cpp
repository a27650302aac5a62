// Temporary: the three rendering paths until they are written.
#include "shaders/lumenfield.h"

miBoolean zel_direct_photometric(miColor*, miState*, lumenfield_user*, zel_lumenfield_t*, float) {
  return 1;
}
miBoolean zel_photon_photometric(miColor*, miState*, lumenfield_user*, zel_lumenfield_t*, float) {
  return 1;
}
miBoolean zel_visible_area(miColor*, miState*, lumenfield_user*, zel_lumenfield_t*) { return 1; }
