// Ray queries for programs that move light between the surfaces of a scene
// (a radiosity solver, a photon tracer): the first object along a ray and
// what a segment between two surface points lets through. They see the
// scene exactly as the shadow and probe rays do (refhost/trace.h), from a
// list of the placed objects taken once, so that many threads may ask
// millions of questions without walking the database each time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "refhost/trace.h"

namespace refhost {

class RayScene {
 public:
  // The objects in the world now, and the scene's extent (for the margin
  // that keeps a ray from meeting the surfaces it starts or ends on). The
  // scene must not be edited while the RayScene is in use. `extra` are
  // shapes placed in world space that these queries meet but the host's
  // own shadow and probe rays do not (what only the light moved between
  // surfaces should see, such as a luminaire's emitting face); they follow
  // the world's objects, in order, with instance 0.
  explicit RayScene(std::vector<Geometry> extra = {});

  size_t size() const { return objects_.size(); }
  // The instance that places object i (0 for an object used directly).
  miTag instance(size_t i) const { return objects_[i].placement.instance; }
  // Hits closer than this to either end of a segment are the surfaces the
  // segment starts or ends on.
  double margin() const { return margin_; }

  // Whether object i could cross a segment from some point of `a` to some
  // point of `b` (the corners of two convex pieces of surface): false only
  // when it certainly cannot, because every corner lies on one side of a
  // flat object's plane or the object's bounds are apart from theirs.
  bool may_cross(size_t i, const Vec3d* a, size_t na, const Vec3d* b, size_t nb) const;

  // Fraction of light that the segment from `a` to `b` lets through past
  // the objects listed in `objects` (indices), each crossed object passing
  // the mean of its transparency's red, green and blue: 1 when none is in
  // the way, 0 when an opaque one is. Objects that cast no shadow are
  // passed by.
  double transmission(const Vec3d& a, const Vec3d& b, const uint32_t* objects, size_t count) const;

  struct Hit {
    double t = 0;           // distance along the ray
    size_t object = 0;      // index of the object hit
    uint32_t triangle = 0;  // the triangle met, when the object is a mesh
  };
  // The first object along origin + t·direction (direction of unit length)
  // with margin < t < t_max, among all objects that cast shadows; false when
  // the ray meets none.
  bool first_hit(const Vec3d& origin, const Vec3d& direction, double t_max, Hit& hit) const;

  // The unit normal of object i's surface at `point`, a point on it (on a
  // box, of the side nearest the point; on a mesh, of the triangle nearest
  // it), in the world; its sign is not meaningful for flat objects. A
  // mesh's normal follows the winding of its triangle's corners.
  Vec3d normal_at(size_t i, const Vec3d& point) const;
  // The same at the point a ray met: on a mesh, of the triangle it met.
  Vec3d normal_at(const Hit& hit, const Vec3d& point) const;

 private:
  struct Object {
    Placement placement;
    bool flat = false;        // rectangle, disc, plane, or a mesh in one plane
    Vec3d point{}, normal{};  // a point of a flat object's plane, its normal (world)
    Vec3d lo{}, hi{};         // world bounds of a solid object
    bool bounded = false;     // lo and hi hold
    double clear = 0;         // mean transparency
  };
  std::vector<Object> objects_;
  std::vector<std::shared_ptr<const Geometry>> extra_;  // what the extra objects point at
  double margin_ = 0;
};

}  // namespace refhost
