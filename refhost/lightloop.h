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
// evenly (stratified) over its shape, laid out in light space around the
// light's origin and carried into internal space by the light instance's
// local-to-world matrix: a rectangle within ±|edge u| along x and ±|edge v|
// along y, a disc of the light's radius in the x–y plane, a sphere's
// surface, a cylinder's side around z within ±|axis|; the origin for other
// shapes. An object light emits from the surface of the object instance its
// light record names (by that instance's own placement; a plane, having no
// finite surface, from its centre). `light_instance` may also be a light
// itself, placed in internal space as it stands. `count` points are written
// to `out`, the same points for the same count on every call and thread;
// none when the tag is no light.
void emitter_points(miTag light_instance, int count, std::vector<miVector>& out);

// Illuminance at `point` (surface normal `normal`) from one light: for each
// emitter point a light ray (ray type 4) from that point to `point` is
// handed to the light shader; the answers, each times the cosine of the
// incidence at the receiver, are averaged over the points (a false answer
// counts as 0). The colour is in the light's output units (lux when the
// light is stated in photometric units and the output scale is 1).
// Emitter points behind the receiver's surface, or on the point itself, are
// not handed to the shader. The normal need not be of unit length; alpha of
// the answer is 1. Several threads may run it at once, each with its own
// `thread`; it allocates nothing.
miColor illuminance(const SceneLight& light, const miVector& point, const miVector& normal,
                    int samples, ThreadContext& thread);

// Area of the surface of the object that `object_instance` places (or of
// an object itself), in internal space: exact for any placement, including
// the ellipsoids that stretched spheres become. +∞ for a plane, 0 when the
// tag places no object. Host query 125 answers this for the light's
// emitting object, and gives no answer for a plane.
float object_area(miTag object_instance);

}  // namespace refhost
