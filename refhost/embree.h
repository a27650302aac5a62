// Triangle meshes in the reference host: stored once, traced by Embree where
// the build has it (one scene per mesh, committed when the mesh is made and
// only read afterwards, so any number of threads trace it at once), and
// triangle by triangle where it has not.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "refhost/trace.h"

namespace refhost {

struct TriangleMesh {
  TriangleMesh(std::vector<float> vertices, std::vector<uint32_t> triangles);
  ~TriangleMesh();
  TriangleMesh(const TriangleMesh&) = delete;
  TriangleMesh& operator=(const TriangleMesh&) = delete;

  size_t triangle_count() const { return triangles.size() / 3; }

  std::vector<float> vertices;      // x, y, z per vertex
  std::vector<uint32_t> triangles;  // three vertex indices per triangle
  struct Traced;                    // the acceleration structure, if any
  std::unique_ptr<Traced> traced;
};

// True when meshes are traced by Embree in this build.
bool meshes_traced_by_embree();

// The parameter t of the first crossing of o + t·d with a triangle of the
// mesh with t_min < t < t_max, in units of d; +∞ when there is none.
double mesh_first_crossing(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d, double t_min,
                           double t_max);
// Whether any triangle crosses the ray within (t_min, t_max): the cheaper
// question of a shadow ray.
bool mesh_crossed(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d, double t_min,
                  double t_max);
// The first crossing and the triangle it meets (index into the mesh's
// triangles); false when there is none.
struct MeshHit {
  double t = 0;
  uint32_t triangle = 0;
};
bool mesh_first_hit(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d, double t_min,
                    double t_max, MeshHit& hit);
// The unit normal of a triangle, by the winding of its corners.
Vec3d triangle_normal(const TriangleMesh& mesh, uint32_t triangle);
// The same first crossing found by testing every triangle in double
// precision: the answer without an acceleration structure.
double mesh_first_crossing_exhaustive(const TriangleMesh& mesh, const Vec3d& o, const Vec3d& d,
                                      double t_min, double t_max);

}  // namespace refhost
