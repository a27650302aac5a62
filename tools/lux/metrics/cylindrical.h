// Cylindrical and semi-cylindrical illuminance, and modelling.
//
// A small vertical cylinder at a person's eye height shows how well faces
// and objects are lit from all round: its mean illuminance E_z is the
// cylindrical illuminance. A semi-cylinder facing a horizontal direction
// gives the semi-cylindrical illuminance E_sc for that direction. The
// modelling ratio E_z / E_h compares it with the horizontal illuminance at
// the same place.
//
// Light from one direction whose illuminance on a plane facing it is E⊥,
// arriving at angle θ from the vertical and at horizontal angle α from the
// semi-cylinder's facing direction, gives
//   E_z  = E⊥ · sin θ / π,
//   E_sc = E⊥ · sin θ · (1 + cos α) / π,
//   E_h  = E⊥ · max(0, cos θ)   (on a horizontal plane facing up).
// The direct part sums these over the light rays the host hands each
// light's shader (one ray per emitter point, as for plane illuminance); the
// interreflected part comes from the illuminance the room's surfaces give
// on vertical planes around the point.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "tools/lux/transport/calc.h"

namespace lux {

// Interreflected illuminance in lux at a point on a plane facing `normal`,
// with new luminaires (the maintenance factor is applied by the caller).
// Must be safe to call from several threads at once. An empty function
// means no interreflected light (the direct part alone).
using IndirectField = std::function<double(Vec3 point, Vec3 normal)>;

// The horizontal directions semi-cylindrical illuminance is reported for:
// facing +x, +y, −x and −y.
constexpr int kFacings = 4;
const std::array<Vec3, kFacings>& semi_cylinder_facings();

// The illuminance figures at one place, in lux.
struct CylindricalPoint {
  double ez = 0;                       // cylindrical
  double eh = 0;                       // horizontal, facing up
  std::array<double, kFacings> esc{};  // semi-cylindrical per facing
};

// Direct figures at `point` from one light through its shader: the light
// rays from the light's emitter points (`emitter`, in world space) to the
// point, each answer weighted by the direction it comes from. The strongest
// colour component of each sum is taken, as for plane illuminance.
CylindricalPoint direct_cylindrical(const Light& light, const std::vector<Vec3>& emitter,
                                    Vec3 point, refhost::ThreadContext& thread);

// Interreflected figures at `point` from vertical-plane illuminances: E_z is
// the mean over azimuth of the illuminance on vertical planes (the mean of
// max(0, cos) over a full turn is 1/π), E_sc the mean over the half turn
// about its facing; both by the midpoint rule over `azimuths` directions.
CylindricalPoint interreflected_cylindrical(const IndirectField& field, Vec3 point,
                                            int azimuths = 16);

// The emitter points of a light in world space, `count` of them (64 when it
// is 0, a light sampled to an accuracy; one for a
// point light): what the host's light loop lays out.
std::vector<Vec3> emitter_points(const Light& light, int count);

// One area at one eye height.
struct CylindricalResult {
  std::string name;    // the area's name
  double height = 0;   // above the area's corner, scene units
  int nu = 0, nv = 0;  // points along u and v; point (i, j) at [j * nu + i]
  std::vector<Vec3> points;
  std::vector<PointState> state;  // masked: inside a solid object
  // Maintained values (per light its maintenance factor; the interreflected
  // part times the scene's), lux, per point.
  std::vector<double> ez, eh;
  std::vector<std::array<double, kFacings>> esc;
  Stats ez_stats, eh_stats;
  std::array<Stats, kFacings> esc_stats;
  double modelling = 0;  // mean E_z / mean E_h over the counted points
  // Whether the interreflected part is included, and where it came from.
  std::string interreflection = "none";
};

// Cylindrical, semi-cylindrical and horizontal illuminance on every
// cylindrical area of the scene at each of its heights. Deterministic for
// any thread count.
std::vector<CylindricalResult> calculate_cylindrical(const Model& model, const CalcOptions& options,
                                                     const IndirectField& field = {},
                                                     const std::string& field_source = "none");

}  // namespace lux
