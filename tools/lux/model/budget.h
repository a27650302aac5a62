// What a run will cost, reckoned from the scene before anything of that
// size is allocated: the memory its results take and the light samples it
// draws. A run beyond the bounds is refused with the figures and what to
// change, instead of ending in an allocation failure hours later.
#pragma once

#include <cstdint>
#include <string>

#include "tools/lux/scene/scene.h"

namespace lux {

struct WorkEstimate {
  uint64_t points = 0;  // grid points of all surfaces
  uint64_t lights = 0;  // lights and light objects
  uint64_t bytes = 0;   // memory of the results and their outputs
  double samples = 0;   // emitter samples drawn, each one call of a light's shader
};

// Bytes a grid point costs: its position and illuminance, and its place in
// the JSON report, as a value and as text; and, when the tables have a
// column per light, one value per light.
constexpr uint64_t kBytesPerPoint = 3 * 8 + 8 + 16 + 24;
constexpr uint64_t kBytesPerPointAndLight = 8;
// Up to this many lights the tables have a column per light unless asked
// otherwise; beyond, only when asked (--light-columns): a table of hundreds
// of columns helps nobody, and its values would cost points × lights.
constexpr size_t kMaxLightColumns = 32;

// Whether a run keeps each light's value at every point.
constexpr bool keeps_light_columns(size_t lights, bool asked) {
  return asked || lights <= kMaxLightColumns;
}
// Bytes a pixel of the camera view costs: three channels and a flag.
constexpr uint64_t kBytesPerPixel = 3 * 8 + 1 + 4;
// More light samples than this take weeks on a workstation.
constexpr double kMaxSamples = 1e12;

// The cost of calculating `scene`: `samples` replaces every light's count
// when positive, as --samples does; `view` when the camera view is drawn;
// `light_columns` when each light's value is kept at every point.
WorkEstimate estimate_work(const Scene& scene, int samples, bool view, bool light_columns = true);

// Refuses a run whose memory exceeds `max_bytes` or whose samples exceed
// kMaxSamples, naming the figures and how to lower them.
void check_work(const WorkEstimate& work, uint64_t max_bytes);

// The default bound on memory: half the machine's physical memory.
uint64_t default_memory_bound();

// A byte count for people: "13.4 GB".
std::string gigabytes(uint64_t bytes);

}  // namespace lux
