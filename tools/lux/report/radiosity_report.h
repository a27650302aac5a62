// What a run reports of interreflection: per surface the direct and
// interreflected parts and the luminance of reflecting surfaces; for the
// scene the patches, the time taken and the flux balance, beside the
// photons' when they were traced.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/lux/report/outputs.h"
#include "tools/lux/transport/radiosity.h"

namespace lux {

// The lights' flux in lumen: measured by photons when every light was, else
// stated when every light states it; nullopt when neither.
std::optional<double> emitted_flux(const Model& model, const RunInfo& info);

// The flux balance of the interreflection in lumen of new luminaires. The
// patches carry maintained light, while the luminaires' flux and the
// photons are those of new ones; drawn up in maintained lumen, a closed room
// with a maintenance factor of 0.8 would seem to lose a fifth of its light.
FluxBalance balance_in_new_lumen(const RadiositySolution& solution);

// Notes on surfaces that receive no direct light at all.
std::vector<std::string> unlit_notes(const std::vector<SurfaceResult>& results);

// Adds to the JSON entry of an area of the results: its surface's kind, the
// statistics of its direct light, the mean interreflected light, the direct
// share and, for a reflecting surface, its reflectance and mean luminance.
void add_interreflection_stats(nlohmann::ordered_json& entry, const Model& model,
                               const SurfaceResult& result);

// The scene's interreflection: settings, patches, times and flux balance;
// null when nothing reflects.
nlohmann::ordered_json interreflection_json(const Model& model, const RunInfo& info);

// The same for the summary on standard output.
void print_interreflection(std::ostream& out, const Model& model,
                           const std::vector<SurfaceResult>& results, const RunInfo& info);

}  // namespace lux
