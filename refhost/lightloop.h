// The host's light-sampling loop: how a renderer asks an area light for the
// light arriving at a surface point, one light ray per point on the emitter.
#pragma once

#include "refhost/refhost.h"

namespace refhost {

// One light of a scene: the light shader's instance and the light instance.
struct SceneLight {
  ShaderInstance* shader = nullptr;
  miTag instance = 0;
};

// Points on the emitter of `light_instance`, in internal space, spread
// evenly (stratified) over its shape: a rectangle's origin ± u ± v, a disc,
// a sphere's surface, a cylinder's side; the origin for other shapes.
// `count` points are written to `out` (the same points for the same count).
void emitter_points(miTag light_instance, int count, std::vector<miVector>& out);

// Illuminance at `point` (surface normal `normal`) from one light: for each
// emitter point a light ray (ray type 4) from that point to `point` is
// handed to the light shader; the answers, each times the cosine of the
// incidence at the receiver, are averaged over the points (a false answer
// counts as 0). The colour is in the light's output units (lux when the
// light is stated in photometric units and the output scale is 1).
miColor illuminance(const SceneLight& light, const miVector& point, const miVector& normal,
                    int samples, ThreadContext& thread);

// Area of an object light's emitting geometry (host query 125).
float object_area(miTag object_instance);

}  // namespace refhost
