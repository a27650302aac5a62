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

// How many emitter points a receiver gets from a light: a fixed count, or as
// many as a stated accuracy needs.
struct EmitterSampling {
  // > 0: exactly this many points of the stratified pattern, as above.
  int samples = 0;
  // With no fixed count: the relative error aimed at for each light and
  // receiver (0.001 is 0.1 %).
  double accuracy = 1e-3;
};

// Illuminance as above, with the emitter points chosen by `sampling`. With
// a fixed count it is the call above. Otherwise the emitter's parameter
// square is split into pieces until each piece, seen from the receiver,
// subtends so small an angle that a product Gauss rule on it (one point, or
// 2 × 2) has a quadrature error below the accuracy; pieces that may cross
// the receiver's horizon are split further, since the cosine's cut makes
// the integrand kink there. Near receivers thus get many points and far
// ones few, and the result is the same on every call and thread. The bound
// holds for emitters whose light varies smoothly over the surface (any
// shaped distribution); shadow edges and cut-offs converge as the pieces
// shrink but are not bounded by it. `calls`, when given, receives the number
// of light rays handed to the shader.
miColor illuminance(const SceneLight& light, const miVector& point, const miVector& normal,
                    const EmitterSampling& sampling, ThreadContext& thread, int* calls = nullptr);

// Area of the surface of the object that `object_instance` places (or of
// an object itself), in internal space: exact for any placement, including
// the ellipsoids that stretched spheres become. +∞ for a plane, 0 when the
// tag places no object. Host query 125 answers this for the light's
// emitting object, and gives no answer for a plane.
float object_area(miTag object_instance);

}  // namespace refhost
