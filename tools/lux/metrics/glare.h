// Discomfort glare: the Unified Glare Rating of the CIE,
//   UGR = 8 · log10( 0.25 / L_b · Σ L² · ω / p² ),
// for an observer's eye and a horizontal viewing direction. For each
// luminaire in the field of view L is its luminance towards the eye (cd/m²),
// ω the solid angle it subtends (sr) and p its Guth position index; L_b is
// the background luminance, the indirect illuminance at the eye on a plane
// facing the viewing direction divided by π.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/lux/metrics/cylindrical.h"

namespace lux {

// Guth's position index for a source at H above the line of sight, Y to its
// side and R ahead of the eye (any one length unit).
double guth_position_index(double H, double Y, double R);

// True when a source at (H, Y, R) takes part in the rating: ahead of the
// eye, not below the line of sight, and within the extent of the position
// index's table (H/R ≤ 1.9, |Y|/R ≤ 3).
bool in_glare_field(double H, double Y, double R);

// The least projected area a source is taken to have, m²: smaller sources
// (a bare lamp, a point light) are rated by the small-source form of the
// CIE, which amounts to this area in the usual formula.
constexpr double kSmallSourceArea = 0.005;

// One luminaire's part in a rating.
struct GlareSource {
  std::string light;
  double intensity = 0;       // cd towards the eye
  double projected_area = 0;  // m² seen from the eye (before the small-source floor)
  double luminance = 0;       // cd/m²
  double solid_angle = 0;     // sr
  double position_index = 0;  // Guth's p
  double term = 0;            // L² · ω / p²
};

// The rating from its parts; nullopt when no source adds anything (no
// glare to rate) or the background is dark.
std::optional<double> ugr_of(double background_luminance, const std::vector<GlareSource>& sources);

// A rating rounded as tables give it: to one decimal.
double rounded_ugr(double ugr);

// The rating for one observer and one viewing direction.
struct UgrResult {
  std::string observer;
  Vec3 position{};                    // scene units
  Vec3 direction{};                   // horizontal unit vector
  std::string view;                   // "lengthwise", "crosswise" or "given"
  double background_illuminance = 0;  // lux, indirect, at the eye facing the view
  double background_luminance = 0;    // cd/m²
  std::optional<double> ugr;          // unrounded
  std::vector<GlareSource> sources;   // the luminaires in the field, scene order
};

// Every rating of a scene, the largest, and where the background came from.
struct GlareReport {
  std::vector<UgrResult> results;
  std::optional<double> largest;  // unrounded
  size_t largest_index = 0;       // into results
  // "interreflection" when the room's interreflected light gave L_b;
  // "room estimate" for the room-average estimate used without it.
  std::string background_source;
  // Area-weighted over the reflecting surfaces, occluders and meshes and
  // the open rest of the box the scene spans, for the room estimate.
  double room_reflectance = 0;
  std::string note;                 // why there is no rating, when there is none
  double room_flux = 0;             // lumen of the new lights, for the room estimate
  double maintenance_factor = 1.0;  // the rating is of new luminaires
};

// An axis-aligned room in scene units.
struct RoomBox {
  Vec3 min{}, max{};
};
// The room the scene's surfaces and lights span.
RoomBox room_of(const Scene& scene);

// The customary observers: at the centre of each wall at `eye_height`
// above the floor, looking across the room at right angles to the wall.
std::vector<ObserverDesc> default_observers(const RoomBox& room, double eye_height);

// The average interreflected illuminance of a closed room (the flux-transfer
// estimate of an integrating enclosure): Φ·ρ / (A·(1 − ρ)), Φ the lights'
// flux in lumen, A the room's surface in m², ρ its mean reflectance.
double room_interreflected_lux(double flux_lm, double area_m2, double reflectance);

// One luminaire's part for an eye and view, through the light's shader: the
// light rays from its emitter points to the eye give its intensity
// towards the eye; nullopt when it is not in the field of view.
std::optional<GlareSource> glare_source(const Light& light, const std::vector<Vec3>& emitter,
                                        const SceneUnit& unit, Vec3 eye, Vec3 direction,
                                        refhost::ThreadContext& thread);

// Projected area of a light's emitter seen along `towards_eye` (unit), in
// square scene units; 0 for a point light.
double projected_area(const Emitter& emitter, Vec3 towards_eye);

// Ratings for the scene's observers (and the default set when asked),
// with `field` for the background when given, else the room estimate.
GlareReport calculate_glare(const Model& model, const CalcOptions& options,
                            const IndirectField& field = {});

}  // namespace lux
