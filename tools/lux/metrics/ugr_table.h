// A luminaire's table of Unified Glare Ratings by the tabular method: the
// rating a seated observer gets in standard rooms lit by a regular array of
// the luminaire, for standard reflectances, looking across the luminaires
// and along them; as manufacturers' data sheets print it.
//
// What the method prescribes, as this module follows it:
// - The rating is the CIE formula UGR = 8 log10(0.25 / L_b · Σ L² ω / p²)
//   (see glare.h), summed over every luminaire of the array the observer
//   sees: L the luminance of its luminous opening towards the eye, I / A
//   with A the opening's projected area; ω = A / r² its solid angle; p
//   Guth's position index. Luminaires beyond the position index's table
//   (H/R > 1.9 or |T|/R > 3) are left out.
// - The observer's eye is at the middle of one wall, on the wall, looking
//   horizontally into the room; H is the height of the luminaires above
//   the eye. The room is X (across the line of sight) by Y (along it),
//   both in multiples of H: 2H, 4H, 8H, 12H by 2H … 12H, nineteen rooms.
// - The luminaires hang at a spacing of 0.25 H in both directions, the
//   first row and column half a spacing from the walls: so fine an array
//   that the table does not depend on where the observer stands between
//   luminaires. How much real spacings of 1, 1.5 and 2 H move the rating
//   as the observer walks along the wall is given separately.
// - Crosswise, the line of sight lies in the luminaires' C0–C180 plane
//   (the observer looks across the C90–C270 axis, along which a linear
//   luminaire's lamps lie in the CIE convention); endwise it lies in their
//   C90–C270 plane. The luminaires' C0 (crosswise) or C90 (endwise) half
//   faces the observer.
// - The background luminance is the indirect illuminance on the walls
//   between the eye and the luminaires, divided by π. The luminaires'
//   flux first falls on three surfaces of the cavity between the eye's
//   plane and the luminaires' plane: the floor cavity (the plane at eye
//   height, reflectance 0.2), the walls and the ceiling. The method splits
//   the downward flux between floor and walls by zonal coefficients for
//   the room index k = XY / (H(X + Y)) applied to the flux in the four cones
//   of the CIE flux code (0–41.4°, 60°, 75.5°, 90°), which give the direct
//   ratio of a regular array at a spacing of 1 H; the upward flux goes to
//   the ceiling. Interreflection among the three surfaces, each uniformly
//   diffuse, carries each part to the walls by a transfer factor of the
//   room and its reflectances (ceiling/walls/floor 0.7/0.5/0.2, 0.7/0.3/0.2,
//   0.5/0.5/0.2, 0.5/0.3/0.2, 0.3/0.3/0.2); the light that first lands on
//   the walls counts only after its first reflection.
// - H itself cancels: the glare sum and the background both scale as 1/H².
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "refhost/profiles.h"
#include "tools/lux/model/photometry.h"

namespace lux {

// A standard room: X across the line of sight, Y along it, in H.
struct UgrRoom {
  double x = 0, y = 0;
};
inline constexpr UgrRoom kUgrRooms[] = {{2, 2}, {2, 3},  {2, 4},  {2, 6},  {2, 8},  {2, 12}, {4, 2},
                                        {4, 3}, {4, 4},  {4, 6},  {4, 8},  {4, 12}, {8, 4},  {8, 6},
                                        {8, 8}, {8, 12}, {12, 4}, {12, 6}, {12, 8}};
constexpr size_t kUgrRoomCount = sizeof kUgrRooms / sizeof kUgrRooms[0];

// Reflectances of the ceiling cavity, the walls and the floor cavity.
struct UgrReflectances {
  double ceiling = 0, walls = 0, floor = 0;
};
inline constexpr UgrReflectances kUgrReflectances[] = {
    {0.7, 0.5, 0.2}, {0.7, 0.3, 0.2}, {0.5, 0.5, 0.2}, {0.5, 0.3, 0.2}, {0.3, 0.3, 0.2}};
constexpr size_t kUgrReflectanceCount = sizeof kUgrReflectances / sizeof kUgrReflectances[0];

constexpr double kUgrStandardSpacing = 0.25;  // in H
inline constexpr double kUgrVariationSpacings[] = {1.0, 1.5, 2.0};
// The luminaires' height above the eye the tables are computed at, m (the
// eye 1.2 m above the floor, the luminaires at 3.2 m). It cancels.
constexpr double kUgrHeight = 2.0;

enum class UgrView { Crosswise = 0, Endwise = 1 };

// The luminaire: its candela in light space (γ from the downward axis) and
// the opening light leaves through.
struct UgrLuminaire {
  const refhost::ProfileTable* table = nullptr;
  LuminousOpening opening;
};

// The form factor between two equal, directly opposed parallel rectangles
// a × b at a distance c.
double parallel_rectangles_form_factor(double a, double b, double c);

// How the interreflection of the cavity between the eye's plane and the
// luminaires' plane brings light to the walls: per lumen first landing on
// the floor cavity, on the walls, or on the ceiling, the lumen that reach
// the walls after at least one reflection. Three uniformly diffuse
// surfaces with the exact form factors of a box X × Y × 1 (in H).
struct CavityTransfer {
  double floor = 0, walls = 0, ceiling = 0;
};
CavityTransfer cavity_transfer(UgrRoom room, UgrReflectances reflectances);

// Where one luminaire's flux first lands in a room, lumen: the method's
// zonal coefficients split the downward flux between the floor cavity and
// the walls; the upward flux goes to the ceiling.
struct FirstLanding {
  double floor = 0, walls = 0, ceiling = 0;
};
// nullopt for a room whose index the coefficients do not cover.
std::optional<FirstLanding> first_landing(const refhost::ProfileTable& table, UgrRoom room);

// The part of a luminaire's downward flux that falls straight on the floor
// cavity of a room X × Y (in H) lit by a regular array of `nx` × `ny` of
// them, each centred in its share of the ceiling: the candela table
// integrated over the directions whose rays reach the floor, averaged over
// the array. The method's zonal coefficients stand for this at a spacing
// of 1 H. The table is sampled once for any number of rooms.
class DirectFlux {
 public:
  explicit DirectFlux(const refhost::ProfileTable& table);
  double ratio(UgrRoom room, size_t nx, size_t ny) const;

 private:
  static constexpr size_t kGammaCells = 360, kCCells = 360;  // ¼° by 1°
  std::vector<double> reach_;  // in H, where a ray at each cell's upper γ lands
  std::vector<double> below_;  // [C][γ]: downward flux up to each cell
  double down_ = 0;
};
double array_direct_ratio(const refhost::ProfileTable& table, UgrRoom room, size_t nx, size_t ny);

// The luminaires of a room at `spacing` (in H): rows along the line of
// sight half a spacing from the observer's wall and then every spacing;
// columns across it every spacing from `phase_across` of a spacing off the
// left wall. The standard array (phase ½) has every row and column half a
// spacing from the walls; other phases are the observer standing elsewhere
// between two columns.
constexpr double kUgrStandardPhase = 0.5;
size_t ugr_luminaire_count(UgrRoom room, double spacing, double phase_across = kUgrStandardPhase);

// The background luminance of a room lit by `count` luminaires, cd/m².
double ugr_background(const FirstLanding& landing, UgrRoom room, UgrReflectances reflectances,
                      size_t count);

// Σ L² ω / p² over that array for the observer at the middle of the wall.
double ugr_glare_sum(const UgrLuminaire& luminaire, UgrRoom room, UgrView view, double spacing,
                     double phase_across = kUgrStandardPhase);

struct UgrTable {
  double flux = 0;  // lumen of one luminaire, as its candela give it
  // [room][view][reflectances], unrounded.
  std::vector<double> values;
  double at(size_t room, UgrView view, size_t reflectances) const {
    return values[(room * 2 + size_t(view)) * kUgrReflectanceCount + reflectances];
  }
  // How far a real spacing moves the rating as the observer walks along
  // the wall through one spacing (the columns of luminaires fall anywhere
  // relative to the eye): the largest and the smallest change against the
  // table over the rooms at least 4H on each side, per view. The same in every
  // reflectance column: the background changes with the number of
  // luminaires only, in proportion.
  struct Variation {
    double spacing = 0;  // in H
    double rise[2] = {0, 0}, fall[2] = {0, 0};
  };
  std::vector<Variation> variation;
};

// The table; nullopt with `why_not` set for a luminaire it cannot rate (no
// luminous opening to have a luminance, or no light below the horizon).
std::optional<UgrTable> ugr_table(const UgrLuminaire& luminaire, std::string& why_not);

}  // namespace lux
