#include "tools/lux/model/photometry_light.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "refhost/profiles.h"
#include "tools/lux/model/photometry.h"

namespace lux {

namespace {

using json = nlohmann::ordered_json;

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi / 180.0;
// The direction grid of the flux integral: bands of equal width in the
// cosine of the angle from the light's axis (split where the spot cone's
// edges and the emitter's plane put kinks), times equal steps of azimuth.
constexpr int kFluxBands = 720;
constexpr int kFluxAzimuths = 360;
constexpr int kMinBandsPerPiece = 8;
constexpr const char* kRelativeCaveat = "relative intensity mode";

// A field of the shader's parameter record as it stands.
template <typename T>
T field_value(refhost::ShaderInstance& shader, const std::string& name, T fallback) {
  const refhost::ParamField* f = shader.decl().field(name);
  if (f == nullptr) return fallback;
  T v{};
  std::memcpy(&v, static_cast<const unsigned char*>(shader.params()) + f->offset, sizeof v);
  return v;
}
int32_t int_field(refhost::ShaderInstance& s, const std::string& name) {
  return field_value<int32_t>(s, name, 0);
}
double float_field(refhost::ShaderInstance& s, const std::string& name, float fallback) {
  return double(field_value<float>(s, name, fallback));
}

bool written(const PhotometryEntry& entry, const char* field) {
  return entry.shader != nullptr && entry.shader->fields.contains(field);
}
bool flag_written_true(const PhotometryEntry& entry, const char* field) {
  if (entry.shader == nullptr) return false;
  const auto& f = entry.shader->fields;
  const auto v = f.find(field);
  return v != f.end() && (v->is_boolean() ? v->get<bool>() : v->is_number() && *v != 0);
}

// The scene's profile a light's fields name, if any.
const ProfileDesc* followed_profile(const PhotometryEntry& entry, const Scene& scene) {
  if (!flag_written_true(entry, "use_profile")) return nullptr;
  const auto& f = entry.shader->fields;
  for (const char* key : {"profile", "profile_name"}) {
    const auto n = f.find(key);
    if (n == f.end() || !n->is_string()) continue;
    for (const auto& p : scene.profiles)
      if (p.name == n->get<std::string>()) return &p;
  }
  return nullptr;
}

// Peak candela of a defined profile as the light's set-up sees it: the
// table's peak times the profile's intensity multiplier.
double profile_peak(const ProfileDesc& p) {
  const miTag tag = refhost::find("zel_lightprofile::" + p.name);
  const refhost::ProfileTable* t = refhost::profile_table(tag);
  if (t == nullptr) return 0;
  float peak = 0;
  for (float v : t->candela) peak = std::max(peak, v);
  return double(peak) * refhost::profile_settings(tag).multiplier;
}

// How closely a light scaled to a flux must then emit it: far above the
// rounding of its single-precision fields, far below any error that matters.
constexpr double kFluxScalingTolerance = 1e-3;

void set_energy(miTag light_tag, double energy) {
  refhost::LightRecord* rec = refhost::light_record(light_tag);
  if (rec == nullptr) return;
  const auto e = static_cast<float>(energy);
  rec->energy.r = rec->energy.g = rec->energy.b = e;
}

std::string format(const char* pattern, double a, double b = 0, double c = 0) {
  char s[256];
  std::snprintf(s, sizeof s, pattern, a, b, c);
  return s;
}

// Whether the light answers in relative mode: a profile that is EULUMDAT
// or not asked for absolute intensity.
bool relative_mode(refhost::ShaderInstance& shader, const ProfileDesc* profile) {
  return profile != nullptr &&
         (profile->format == 2 || int_field(shader, "absolute_intensity") != 1);
}

// An orthonormal pair across `axis`.
void across(Vec3 axis, Vec3& e1, Vec3& e2) {
  const Vec3 ref = std::fabs(axis.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  e1 = normalize(cross(axis, ref));
  e2 = cross(axis, e1);
}

// The middle of a solid.
Vec3 centre_of(const SolidDesc& solid) {
  switch (solid.kind) {
    case SolidDesc::Rectangle:
      return solid.corner + solid.u * 0.5 + solid.v * 0.5;
    case SolidDesc::Disc:
    case SolidDesc::Sphere:
      return solid.center;
    case SolidDesc::Box:
      return (solid.min + solid.max) * 0.5;
  }
  return solid.center;
}

// Where the flux integral looks from: the light's own frame; for an object
// light, the frame its light instance places, at the solid's centre.
Frame flux_frame(const Light& light) {
  if (light.emitter.kind != Emitter::Solid) return light.emitter.frame;
  const refhost::Matrix m = refhost::instance_local_to_world(light.scene.instance);
  const auto row = [&m](int r) {
    return Vec3{double(m.m[4 * r]), double(m.m[4 * r + 1]), double(m.m[4 * r + 2])};
  };
  Frame f;
  f.ez = normalize(row(2));
  across(-f.ez, f.ex, f.ey);
  f.origin = centre_of(light.emitter.solid);
  return f;
}

}  // namespace

PhotometryEntry photometry_entry(const LightDesc& desc) {
  return {"light", &desc.shader, desc.spot, desc.cone_angle, desc.spot_direction, desc.flux};
}

PhotometryEntry photometry_entry(const ObjectLightDesc& desc) {
  return {"light object", &desc.shader, false, 0, std::nullopt, desc.flux};
}

miTag light_of_instance(miTag light_instance) {
  const auto* record = static_cast<const unsigned char*>(refhost::db_data(light_instance));
  if (record == nullptr) return 0;
  miTag item = 0;
  std::memcpy(&item, record + refhost::kInstanceItemOffset, sizeof item);
  return item;
}

void use_file_photometry(Light& light, const PhotometryEntry& entry, const Scene& scene,
                         miTag light_tag) {
  const ProfileDesc* p = followed_profile(entry, scene);
  if (p == nullptr || p->format != 2) return;
  if (written(entry, "relative_intensity")) {
    light.notes.push_back(
        "\"relative_intensity\" is given: the EULUMDAT file's lamp flux is not "
        "used and the numbers stay relative");
    return;
  }
  const PhotometricFile f = read_photometric_file(p->file, 2);
  const double peak = profile_peak(*p);
  const double area = scene.unit.area_factor();
  refhost::ShaderInstance& shader = *light.shader;
  const double direct_multiplier = float_field(shader, "intensity_multiplier", 1);
  const double photon_multiplier = float_field(shader, "photon_multiplier", 1);
  // Relative mode applies neither multiplier nor the unit's area factor;
  // they are folded into the two scales as absolute mode would apply them.
  shader.set_float("relative_intensity", static_cast<float>(peak * area * direct_multiplier));
  set_energy(light_tag, peak * area * photon_multiplier);
  if (f.stated_output) light.stated_flux = *f.stated_output;
  std::erase_if(light.caveats,
                [](const std::string& c) { return c.rfind(kRelativeCaveat, 0) == 0; });
  light.relative = false;

  const LampSet& set1 = f.lamp_sets.front();
  const double cd_per_klm = f.lamp_flux > 0 ? peak * 1000.0 / f.lamp_flux : 0;
  json j;
  j["profile"] = p->name;
  j["file"] = p->file.string();
  j["from_file"] = {{"lamp_sets", f.lamp_sets.size()},
                    {"lamps_in_set_1", set1.count},
                    {"absolute_photometry", f.absolute},
                    {"lamp_flux_lm", f.lamp_flux},
                    {"conversion_factor", f.conversion},
                    {"light_output_ratio", f.lor ? json(*f.lor) : json()},
                    {"stated_output_lm", f.stated_output ? json(*f.stated_output) : json()},
                    {"peak_cd_per_klm", cd_per_klm}};
  j["peak_cd"] = peak;
  j["relative_intensity"] = peak * area * direct_multiplier;
  light.photometry["eulumdat"] = j;
  light.notes.push_back(
      format("absolute photometry from the EULUMDAT file: peak %.1f cd/klm x %.1f lm of lamp set 1 "
             "/ 1000 = %.1f cd",
             cd_per_klm, f.lamp_flux, peak) +
      (f.stated_output ? format("; the file states %.1f lm", *f.stated_output) : std::string()));
  if (flag_written_true(entry, "override_profile_intensity"))
    light.notes.push_back(
        "\"override_profile_intensity\" has no effect on an EULUMDAT profile (relative mode)");
}

double emitted_flux(Light& light, const PhotometryEntry& entry, const Scene& scene) {
  refhost::ShaderInstance& shader = *light.shader;
  // The axis of the grid: the spot's axis, else the aim; a spot's cone
  // edges and the emitter's plane fall on band edges, where the emitted
  // intensity has its kinks and steps.
  const Frame frame = flux_frame(light);
  const Vec3 aim = frame.vector_to_world({0, 0, -1});
  const Vec3 axis = entry.spot && entry.spot_direction ? normalize(*entry.spot_direction) : aim;
  std::vector<double> edges{-1.0, 1.0};
  if (axis.x == aim.x && axis.y == aim.y && axis.z == aim.z) edges.push_back(0.0);
  if (entry.spot) {
    const double outer = std::cos(0.5 * entry.cone_angle * kDegToRad);
    const double falloff = float_field(shader, "falloff_angle", 0) * kDegToRad;
    const double inner = int_field(shader, "falloff_from_spread") != 0
                             ? std::cos(std::acos(outer) - std::min(falloff, std::acos(outer)))
                             : std::cos(0.5 * falloff);
    edges.push_back(outer);
    edges.push_back(inner);
  }
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end(),
                          [](double a, double b) { return std::fabs(a - b) < 1e-9; }),
              edges.end());
  Vec3 e1, e2;
  across(axis, e1, e2);

  // Shadows off: the flux leaves the light whatever stands in the scene.
  const int32_t shadows = int_field(shader, "shadows");
  shader.set_int("shadows", 0);
  refhost::ThreadContext thread(0, 1);
  const Vec3 origin = frame.origin;
  double total = 0;
  for (size_t piece = 0; piece + 1 < edges.size(); ++piece) {
    const double z0 = edges[piece], z1 = edges[piece + 1];
    const int bands =
        std::max(kMinBandsPerPiece, static_cast<int>(std::lround(kFluxBands * (z1 - z0) / 2)));
    const double dz = (z1 - z0) / bands;
    for (int b = 0; b < bands; ++b) {
      const double z = z0 + (b + 0.5) * dz;
      const double r = std::sqrt(std::max(0.0, 1 - z * z));
      double ring = 0;
      for (int a = 0; a < kFluxAzimuths; ++a) {
        const double phi = 2 * kPi * (a + 0.5) / kFluxAzimuths;
        const Vec3 dir = e1 * (r * std::cos(phi)) + e2 * (r * std::sin(phi)) + axis * z;
        // One unit away: every distance law gives 1 there.
        miState state = refhost::make_state(&shader, &thread, miRAY_LIGHT, light.scene.instance);
        state.org = to_mi(origin);
        state.dir = to_mi(dir);
        state.dist = 1.0;
        state.point = to_mi(origin + dir);
        state.normal = to_mi(-dir);
        miColor answer{0, 0, 0, 1};
        if (shader.call(&answer, &state)) ring += double(std::max({answer.r, answer.g, answer.b}));
      }
      total += ring * dz * (2 * kPi / kFluxAzimuths);
    }
  }
  shader.set_int("shadows", shadows);
  // The answers carry the square scene units per square metre.
  return total / scene.unit.area_factor();
}

void scale_to_flux(Light& light, const PhotometryEntry& entry, const Scene& scene, miTag light_tag,
                   FluxMeasurements* measured) {
  if (!entry.flux) return;
  const double target = *entry.flux;
  // A light of a kind already measured emits what the first one did.
  const auto known = measured != nullptr && !light.kind.empty() ? measured->find(light.kind)
                                                                : FluxMeasurements::iterator{};
  const bool cached = measured != nullptr && !light.kind.empty() && known != measured->end();
  const double before = cached ? known->second.before : emitted_flux(light, entry, scene);
  if (!(before > 0) || !std::isfinite(before))
    throw Error(scene.file + ": " + entry.kind + " \"" + light.name + "\": \"flux\" " +
                format("%g", target) +
                " lm asked of a light that emits nothing (its parameters give " +
                format("%g", before) + " lm in every direction together)");
  const double k = target / before;
  refhost::ShaderInstance& shader = *light.shader;
  const ProfileDesc* profile = followed_profile(entry, scene);
  // The shader's fields are single precision: a factor that takes one
  // beyond it would make the light infinite or dark (1e300 lm read as 0 lx)
  // while the notes claimed the flux.
  const auto fitting = [&](const char* field, double value) {
    const auto f = static_cast<float>(value);
    if (!(std::fabs(value) <= double(std::numeric_limits<float>::max())) || (value != 0 && f == 0))
      throw Error(scene.file + ": " + entry.kind + " \"" + light.name + "\": \"flux\" " +
                  format("%g", target) + " lm would need \"" + field + "\" " + format("%g", value) +
                  ", beyond the single precision the light's fields hold");
    return f;
  };
  std::string how;
  if (profile == nullptr) {
    shader.set_float("intensity", fitting("intensity", float_field(shader, "intensity", 1) * k));
    how = "intensity";
  } else if (relative_mode(shader, profile)) {
    shader.set_float(
        "relative_intensity",
        fitting("relative_intensity", float_field(shader, "relative_intensity", 1) * k));
    if (const refhost::LightRecord* rec = refhost::light_record(light_tag))
      set_energy(
          light_tag,
          double(fitting("energy",
                         double(std::max({rec->energy.r, rec->energy.g, rec->energy.b})) * k)));
    std::erase_if(light.caveats,
                  [](const std::string& c) { return c.rfind(kRelativeCaveat, 0) == 0; });
    light.relative = false;
    how = "relative_intensity";
  } else if (int_field(shader, "override_profile_intensity") != 0) {
    shader.set_float("profile_intensity",
                     fitting("profile_intensity", float_field(shader, "profile_intensity", 0) * k));
    how = "profile_intensity";
  } else {
    shader.set_int("override_profile_intensity", 1);
    shader.set_int("profile_intensity_unit", 0);
    shader.set_float("profile_intensity", fitting("profile_intensity", profile_peak(*profile) * k));
    how = "profile_intensity";
  }
  // Set-up reads the light's energy and the profile's reference once.
  shader.exit();
  refhost::ThreadContext thread(0, 1);
  miState state = refhost::make_state(&shader, &thread, miRAY_LIGHT, light.scene.instance);
  shader.init(&state);
  const double after = cached ? known->second.after : emitted_flux(light, entry, scene);
  if (measured != nullptr && !light.kind.empty()) (*measured)[light.kind] = {before, after};
  // What the light emits once scaled is measured, not assumed.
  if (!(std::fabs(after - target) <= kFluxScalingTolerance * target))
    throw Error(scene.file + ": " + entry.kind + " \"" + light.name + "\": scaled by " +
                format("%g", k) + " through \"" + how + "\", the light emits " +
                format("%g", after) + " lm, not the " + format("%g", target) + " lm asked");
  light.stated_flux = target;
  light.photometry["flux"] = {{"asked_lm", target},
                              {"before_lm", before},
                              {"factor", k},
                              {"after_lm", after},
                              {"scaled_field", how}};
  light.notes.push_back(
      format("scaled by %.6g to emit %.1f lm (it emitted %.1f lm)", k, target, before) +
      " through \"" + how + "\"");
}

}  // namespace lux
