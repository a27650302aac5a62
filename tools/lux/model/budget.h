// What a run will cost, reckoned from the scene before anything of that
// size is allocated: for each stage, the memory it holds and the calls of
// light shaders it makes (each a light sample, a direction of a flux
// integral or a photon). A run beyond the bounds is refused with the
// figures, the stage and what to change, instead of ending in an allocation
// failure or running for days. The constants are measured: every stage's
// estimate is held against the peak memory of that stage alone, in a child
// process, for a few sizes (tests/test_lux_budget.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/lux/scene/input_file.h"
#include "tools/lux/scene/scene.h"

namespace lux {

// One stage of a run and its cost.
struct StageCost {
  std::string stage;  // what the figures are of, for messages: "the grids' results"
  double bytes = 0;   // memory the stage holds until the run ends
  double calls = 0;   // calls of light shaders
  std::string lower;  // what lowers it: settings of the scene or the command line
};

// What the command line asks of a run besides the scene.
struct RunSettings {
  int samples = 0;  // a fixed count of emitter points for every light, when positive
  bool view = false;
  bool light_columns = true;  // each light's value kept at every point
  int photons = 0;            // per light, when measured
  bool pictures = true;
  int picture_size = 560;
  bool pdf = false;
  bool direct_only = false;
};

struct WorkEstimate {
  uint64_t points = 0;  // grid points of all surfaces (their areas) and point lists
  uint64_t lights = 0;  // lights and light objects
  uint64_t bytes = 0;   // memory of all stages together
  double samples = 0;   // shader calls of all stages together
  std::vector<StageCost> stages;
};

// Memory of the results per grid point: its position, state and the four
// values of the calculation (total, new, direct, interreflected) with the
// row sums; and, when the tables have a column per light, one value per light.
constexpr uint64_t kBytesPerPoint = 72;
constexpr uint64_t kBytesPerPointAndLight = 8;
// What a grid point costs in the outputs: its line of the CSV table and its
// value in the JSON report, as a value and as text (all held at once while
// the report is written); a light's column adds its number to the line.
constexpr uint64_t kOutputBytesPerPoint = 200;
constexpr uint64_t kOutputBytesPerPointAndLight = 16;
// Up to this many lights the tables have a column per light unless asked
// otherwise; beyond, only when asked (--light-columns): a table of hundreds
// of columns helps nobody, and its values would cost points × lights.
constexpr size_t kMaxLightColumns = 32;
// A light in the host: its shader instance and parameter record, its host
// light and instance, the calculator's record of it and its notes.
constexpr uint64_t kBytesPerHostLight = 4000;
// A triangle of a mesh in the host: its single-precision copy and the
// acceleration structure built over it; and what tracing meshes at all
// takes (the ray tracing device and its first allocations).
constexpr uint64_t kBytesPerHostTriangle = 128;
constexpr uint64_t kHostMeshBytes = 6000000;
// A mesh triangle in the interreflection's merged faces (mesh_faces): its
// plane, welded corners and edge table, for the interreflection's own
// estimate.
constexpr uint64_t kBytesPerMergedTriangle = 400;
// A point of a cylindrical area at one height: its figures and state.
constexpr uint64_t kBytesPerCylindricalPoint = 120;
// One luminaire's part in one glare rating, as the report keeps it: its
// figures and name, and the slack of the growing list of them.
constexpr uint64_t kBytesPerGlareSource = 120;
// A pixel of the camera view: three channels and a flag, and its PNG.
constexpr uint64_t kBytesPerPixel = 3 * 8 + 1 + 4 + 4;
// The PDF report: its typefaces and the page being drawn (each page is
// written out once drawn), and per grid point its place in the point table.
constexpr uint64_t kPdfBytes = 12000000;
constexpr uint64_t kPdfBytesPerPoint = 40;
// Calls of a light's shader to integrate its flux once (bands × azimuths);
// a light scaled to a flux is integrated before and after.
constexpr double kFluxIntegralCalls = 720.0 * 360.0;
// Photons per kind of light of the room estimate of the glare rating's
// background, for lights that state no flux: the flux is measured once for
// all copies of a kind.
constexpr int kGlareFluxPhotons = 1 << 14;
// With no fixed count the points follow the accuracy asked for and are not
// known in advance; the estimate then takes a typical count.
constexpr int kTypicalAdaptiveSamples = 64;
// More shader calls than this take weeks on a workstation.
constexpr double kMaxSamples = 1e12;

// Whether a run keeps each light's value at every point.
constexpr bool keeps_light_columns(size_t lights, bool asked) {
  return asked || lights <= kMaxLightColumns;
}

// The cost of calculating `scene` with `run`.
WorkEstimate estimate_work(const Scene& scene, const RunSettings& run);
// The same for a run with no further outputs: `samples` replaces every
// light's count when positive, as --samples does; `view` when the camera
// view is drawn; `light_columns` when each light's value is kept at every
// point.
WorkEstimate estimate_work(const Scene& scene, int samples, bool view, bool light_columns = true);

// Grid points of a surface, each of its areas (the surface itself and its
// task areas' bands) counted as the grid lays them out, without laying
// them out; and of a cylindrical area at one height.
uint64_t surface_points(const Scene& scene, const SurfaceDesc& surface);
uint64_t cylindrical_points(const Scene& scene, const CylindricalDesc& area);

// The interreflection's own stage: its patches, form factors and sweeps.
// Reckoned by the interreflection's estimate (left to it: this returns the
// stage with no cost), from the reflecting surfaces, occluders and meshes
// and the patch size; kBytesPerMergedTriangle is what a mesh's merged faces
// cost it.
StageCost interreflection_cost(const Scene& scene, const RunSettings& run);

// Refuses a run whose memory exceeds `max_bytes` or whose shader calls
// exceed kMaxSamples, naming the figures, the stage that takes most and
// how to lower it.
void check_work(const WorkEstimate& work, uint64_t max_bytes);

// The default bound on memory: half the machine's physical memory.
uint64_t default_memory_bound();
// A bound given in GB on the command line, in bytes; one beyond what a
// 64-bit count holds is no bound at all.
uint64_t memory_bound_of(double gigabytes);

// A byte count for people: "13.4 GB".
inline std::string gigabytes(uint64_t bytes) { return gigabytes(static_cast<double>(bytes)); }

}  // namespace lux
