// Ray tracing against the scene's simple geometry (probe and shadow rays).
// Placeholder answers until the tracing module lands.
#include "refhost/internal.h"

extern "C" {

miBoolean mi_trace_shadow(miColor*, miState*) { return 1; }

miBoolean mi_trace_probe(miState*, const miVector*, const miVector*) { return 0; }

}  // extern "C"
