// The calculation: illuminance at grid points through the host's
// light-sampling loop, on all cores, and the flux of each light measured by
// photon emission.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/lux/grid/grids.h"
#include "tools/lux/grid/stats.h"
#include "tools/lux/model/model.h"

namespace lux {

// Grid points at the centres of the cells of an area: nu cells along u,
// nv along v, each about `spacing` wide. Point (i, j) is points[j * nu + i].
struct Grid {
  int nu = 0, nv = 0;
  double du = 0, dv = 0;    // cell edges along u and v
  Vec3 corner{}, u{}, v{};  // the lattice's rectangle: a corner and two full edges
  Vec3 normal;
  std::vector<Vec3> points;
  std::vector<PointState> state;  // counted, masked, or outside the area
  // Polygon areas: 1 for the points inside the polygon, which alone make
  // up the surface. Empty: every point.
  std::vector<unsigned char> inside;
  std::vector<Ring> outline;  // polygon areas, as in SurfaceDesc
  // Point lists (one row of nu points): each point's own normal and name.
  std::vector<Vec3> normals;
  std::vector<std::string> labels;

  bool is_point_list() const { return !normals.empty(); }
  // Whether point p enters the figures: inside a polygon area, and neither
  // masked nor outside a band.
  bool counts(size_t p) const {
    return (inside.empty() || inside[p] != 0) && (state.empty() || state[p] == PointState::Counted);
  }
  Vec3 normal_at(size_t p) const { return normals.empty() ? normal : normals[p]; }
};
// The grid of a surface as a whole (without masking).
Grid make_grid(const SurfaceDesc& surface);
// The grid of a calculation area.
Grid grid_of(GridArea area);
// A point list as a grid of one row.
Grid make_point_grid(const PointListDesc& list);
// The values of the points that make up the surface, in order.
std::vector<double> counted(const Grid& grid, const std::vector<double>& values);

// Illuminance on one area: a surface, or a task area, its immediate
// surrounding or its background. Values are maintained values (each light's
// new value times its maintenance factor); masked and outside points hold 0
// and are not calculated.
struct SurfaceResult {
  std::string name;
  std::string surface;  // the scene surface the area lies on
  std::string role;     // "surface", "task", "surrounding" or "background"
  std::string task;     // the task area of a task, surrounding or background
  Grid grid;
  std::vector<double> lux;             // per point, total: direct + interreflected, maintained
  std::vector<double> lux_new;         // the same with new lights
  std::vector<double> direct;          // per point, straight from the lights, maintained
  std::vector<double> interreflected;  // per point, from the reflecting surfaces, maintained
  // [light][point], direct, maintained; only when the run keeps every
  // light's value at every point (CalcOptions::light_columns).
  std::vector<std::vector<double>> per_light;
  std::vector<double> avg_by_light;  // [light], direct, maintained, over the counted points
  Stats stats;                       // of `lux`
  Stats stats_new;                   // of `lux_new`
  Stats direct_stats;                // of `direct`
};

struct CalcOptions {
  int threads = 1;
  bool progress = false;  // draw a progress bar on standard error
  // Keep each light's illuminance at every point, for the tables' columns
  // per light. Without it a result holds only each light's average, so the
  // memory of a run does not grow with points × lights.
  bool light_columns = true;
};

struct RadiositySolution;

// Illuminance in lux on every surface of the model's scene, then at every
// point list, from every light, and when `interreflection` is given the
// light its reflecting surfaces pass on (radiosity.h). A point's samples
// depend only on where it is and which way it faces, so the numbers are the
// same whatever the thread count, and the same wherever else the point is
// asked for.
std::vector<SurfaceResult> calculate(const Model& model, const CalcOptions& options,
                                     const RadiositySolution* interreflection = nullptr);

// Illuminance in lux at one point from one light, as the calculation takes
// it: the strongest colour component of what the light delivers, since the
// light puts its photometric value into that component.
double point_lux(const Light& light, Vec3 point, Vec3 normal, refhost::ThreadContext& thread);

struct FluxResult {
  std::string light;
  int photons = 0;
  double measured = 0;           // lumen, mean photon energy
  std::optional<double> stated;  // lumen, from the parameters
};

// Emits `photons` photons from light `index` and takes their mean energy as
// the light's flux in lumen (the photon energies carry the square scene
// units per square metre, which are divided out).
FluxResult measure_flux(const Model& model, size_t index, int photons, const CalcOptions& options);

// Runs `work(row, thread)` for rows 0..rows-1 on `threads` workers, each
// with its own thread context (thread index t); a worker takes the next row
// not yet taken whenever it is free, so which worker does a row varies from
// run to run and `work` must depend on the row alone. The first exception
// of any worker is rethrown after all have stopped.
void for_rows(int rows, int threads,
              const std::function<void(int row, refhost::ThreadContext& thread)>& work);

// A seed of a light's samples at one place in the work, independent of the
// thread that does it.
uint64_t sample_seed(uint64_t a, uint64_t b, uint64_t c);
// The seed of a light's samples at a point facing `normal`.
uint64_t point_seed(Vec3 point, Vec3 normal, size_t light);

}  // namespace lux
