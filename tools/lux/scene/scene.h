// The calculator's scene file: what an artist writes down about a room, its
// lights and the surfaces on which illuminance is wanted. Reading it checks
// everything that does not need the plug-in; the shader fields are checked
// against the shaders' declarations when the scene is built (model.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/lux/scene/mesh.h"
#include "tools/lux/scene/points.h"
#include "tools/lux/scene/polygon.h"
#include "tools/lux/scene/tasks.h"
#include "tools/lux/scene/vec.h"

namespace lux {

// A refused input. The message names the file and the line or the field.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Length unit of the scene: the shader code and the length of one unit.
struct SceneUnit {
  int code = 0;  // the area light's `scene_unit` code
  std::string name = "metre";
  std::string symbol = "m";
  double metres = 1.0;  // length of one scene unit in metres
  // Square scene units in one square metre.
  double area_factor() const { return 1.0 / (metres * metres); }
};

// Shader fields as the user wrote them, by field name, in file order. The
// value is kept as JSON until the declaration says what type it must be.
struct ShaderFields {
  nlohmann::ordered_json fields = nlohmann::ordered_json::object();
};

struct ProfileDesc {
  std::string name;  // the profile's name for `profile_name`
  std::filesystem::path file;
  int format = 1;       // 1 IES LM-63, 2 EULUMDAT
  ShaderFields shader;  // further zel_lightprofile fields
};

enum class Shape { Point, Rectangle, Disc, Sphere, Cylinder };

struct LightDesc {
  std::string name;
  bool spot = false;
  Shape shape = Shape::Point;
  // Whether the scene gave the shape; when it did not, a light following a
  // photometric file takes the file's luminous opening.
  bool shape_given = false;
  double width = 0, height = 0;  // rectangle, along the light's x and y
  double radius = 0;             // disc, sphere, cylinder
  double length = 0;             // cylinder, along its axis
  Vec3 position{};
  Vec3 aim{0, 0, -1};                  // where the emitter faces (and a profile's nadir)
  double spin = 0;                     // degrees about the aim
  double decay = 2;                    // decay exponent of the distance law
  std::optional<Vec3> spot_direction;  // world; the aim when absent
  double cone_angle = 0;               // full apex angle of the spot cone, degrees
  int samples = 0;                     // emitter points per receiver; 0: the scene's
  // Maintained values are this fraction of the new ones; the scene's when
  // absent.
  std::optional<double> maintenance_factor;
  std::optional<double> flux;  // lumen the light is scaled to emit
  // What the emitting face reflects of the light that falls back on it: 0
  // takes it as absorbed, as a luminaire's opening is taken; a diffuser may
  // give its own value.
  double opening_reflectance = 0;
  ShaderFields shader;
};

// Simple solid shapes; rectangles are a corner and two full edges.
struct SolidDesc {
  enum Kind { Rectangle, Disc, Sphere, Box } kind = Rectangle;
  Vec3 corner{}, u{}, v{};  // rectangle
  Vec3 center{};            // disc, sphere
  Vec3 normal{0, 0, 1};     // disc
  double radius = 0;        // disc, sphere
  Vec3 min{}, max{};        // box
};

struct OccluderDesc {
  std::string name;
  SolidDesc solid;
  miColor transparency{0, 0, 0, 0};  // fraction let through, per channel
  double reflectance = 0.5;          // luminous, diffuse, 0 ≤ ρ < 1, on every side
};

// A light made from an object with the light object shader.
struct ObjectLightDesc {
  std::string name;
  SolidDesc solid;
  double decay = 2;  // decay exponent of the distance law
  int samples = 0;
  std::optional<double> maintenance_factor;  // the scene's when absent
  std::optional<double> flux;                // lumen the light is scaled to emit
  double opening_reflectance = 0;            // as LightDesc's
  ShaderFields shader;                       // the area light's fields
  ShaderFields object_shader;                // further zel_light_object fields
};

// A task area on a surface: a rectangle in the surface's plane along its
// edges, with the band of its immediate surrounding and a background band
// beyond, both clipped to the surface. Lengths in scene units.
struct TaskAreaDesc {
  std::string name;
  Vec3 corner{};           // in the surface's plane
  double size_u = 0;       // along the surface's u
  double size_v = 0;       // along the surface's v
  double surrounding = 0;  // width of the immediate surrounding band
  double background = 0;   // width of the background band beyond it
  // What the task area must reach, and what its surrounding and background
  // must then reach by the standard's relation.
  Targets targets, surrounding_targets, background_targets;
};

// What a surface of the scene file is. A calculation surface (a work
// plane, a task area) is an imaginary plane: it receives light, but lets it
// through, casts no shadow and reflects nothing. A reflecting surface is a
// real one (a wall, a table top): it casts shadows and reflects diffusely,
// from the side its normal faces, the fraction `reflectance` of what falls
// on it.
enum class SurfaceRole { Calculation, Reflecting };

// A rectangle on which illuminance is calculated: grid points at the
// centres of square-ish cells of about `spacing`, light received on the side
// `normal` faces.
struct SurfaceDesc {
  std::string name;
  Vec3 corner{}, u{}, v{};
  double spacing = 0;             // when not `standard_spacing`
  bool standard_spacing = false;  // the grid rule of indoor workplace lighting
  double margin = 0;              // band along the edges left without points
  Vec3 normal{0, 0, 1};
  SurfaceRole role = SurfaceRole::Calculation;
  double reflectance = 0.5;  // reflecting surfaces; 0 ≤ ρ < 1
  bool room_face = false;    // made by the scene's "room"
  // A polygon area: its outline and holes in the surface's own coordinates
  // (distances along u and v from the corner of the rectangle around it);
  // grid points outside it are not part of the surface. Empty: the whole
  // rectangle.
  std::vector<Ring> outline;
  std::vector<TaskAreaDesc> task_areas;
  Targets targets;  // what the surface's grid must reach
};

// Defaults a lighting designer expects of a room's faces.
constexpr double kCeilingReflectance = 0.7;
constexpr double kWallReflectance = 0.5;
constexpr double kFloorReflectance = 0.2;
constexpr double kOtherReflectance = 0.5;

// The interreflection settings of a scene. The solution is refined until
// each exchange of light between two pieces of surface carries less than
// `accuracy` of a typical piece's light; `patch_size`, when set, is the
// largest edge a piece may keep.
constexpr double kInterreflectionAccuracy = 0.01;
constexpr double kFinestInterreflectionAccuracy = 1e-4;
constexpr double kCoarsestInterreflectionAccuracy = 0.2;
struct Interreflection {
  double accuracy = kInterreflectionAccuracy;  // relative
  double patch_size = 0;                       // scene units; 0: no bound
  double residual = 1e-5;  // stop when the unshot flux is below this fraction of the direct flux
};

// A mesh read from an OBJ file and placed in the scene; it casts shadows.
struct MeshDesc {
  std::string name;
  std::filesystem::path file;
  MeshPlacement placement;
  miColor transparency{0, 0, 0, 0};
  MeshData mesh;  // the file's triangles, placed, with their reflectances
};

// Measuring points read from a CSV file, reported in the order given.
struct PointListDesc {
  std::string name;
  std::filesystem::path file;
  std::vector<MeasurePoint> points;
};

// Where a person's eye is and where it looks, for the glare rating. The
// directions are horizontal.
struct ObserverDesc {
  std::string name;
  Vec3 position{};
  std::vector<Vec3> directions;
  Targets targets;  // the glare limit of its ratings; the "ugr" entry's when absent
};

// A horizontal area over which cylindrical and semi-cylindrical illuminance
// are calculated at the eye heights of seated and standing people.
struct CylindricalDesc {
  std::string name;
  Vec3 corner{}, u{}, v{};  // the area on the floor, horizontal
  double spacing = 0;       // when not `standard_spacing`
  bool standard_spacing = false;
  double margin = 0;
  std::vector<double> heights;  // above the corner, scene units
  Targets targets;              // Ēz and its uniformity, at every height
};

// The glare rating's settings: whether the customary observers at the
// centres of the walls are added, and their eye height.
struct GlareDesc {
  bool default_observers = true;
  double eye_height = 0;  // scene units
  Targets targets;        // the glare limit of every rating without its own
};

struct ViewDesc {
  Vec3 position{};
  Vec3 look_at{};
  Vec3 up{0, 0, 1};
  double fov = 60;  // vertical, degrees
  int width = 480, height = 320;
  int samples = 16;     // emitter points per light per pixel
  double exposure = 0;  // scene value shown as white; 0: automatic
};

// The relative error aimed at per light and receiver when no fixed count of
// emitter points is set, and the range a scene may ask for.
constexpr double kDefaultAccuracy = 1e-3;
constexpr double kFinestAccuracy = 1e-6;
constexpr double kCoarsestAccuracy = 0.1;

struct Scene {
  std::string file;  // as the user named it, for messages
  std::filesystem::path dir;
  std::string title;
  SceneUnit unit;
  // Emitter points per light and receiver: a fixed count when set (> 0),
  // otherwise as many as `accuracy`, the relative error aimed at for each
  // light at each point, needs.
  int samples = 0;
  double accuracy = 1e-3;
  std::vector<ProfileDesc> profiles;
  std::vector<LightDesc> lights;
  std::vector<ObjectLightDesc> object_lights;
  std::vector<OccluderDesc> occluders;
  std::vector<SurfaceDesc> surfaces;  // the room's faces first, when it has one
  std::vector<MeshDesc> meshes;
  std::vector<PointListDesc> point_lists;
  Interreflection interreflection;
  std::optional<ViewDesc> view;
  double maintenance_factor = 1.0;  // of every light that states none
  std::vector<ObserverDesc> observers;
  std::vector<CylindricalDesc> cylindrical;
  std::optional<GlareDesc> glare;  // the glare rating is asked for
};

// True when `point` lies inside a solid with a volume (a sphere or box) or
// on its boundary (within `tolerance`), as a point of the floor under a
// cabinet does. Rectangles and discs are sheets and enclose nothing.
bool inside_or_on(const SolidDesc& solid, Vec3 point, double tolerance);

// How far a scene may reach and how fine its grids may be. The host holds
// positions in single precision: beyond 100 km from the origin its steps
// exceed a centimetre, and a length below a millionth of its distance from
// the origin (or below a micrometre anywhere) is lost in them. Both are far
// beyond any building.
constexpr double kFarthestMetres = 1e5;
constexpr double kSmallestMetres = 1e-6;
constexpr double kFinestRelativeLength = 1e-6;

// What a maintenance factor may be: a fraction of the new light, but not so
// small a one that the new values it implies (maintained / factor) leave
// the range of numbers.
constexpr double kLeastMaintenanceFactor = 0.01;

// How a scene is read. `confine`: data files (meshes and their material
// libraries, point lists, profiles) must lie in the scene's folder or below
// it, so that a scene from elsewhere cannot make the calculator read, or
// quote, files it has no business with. `max_bytes`: the memory what is read
// (lights of arrays, meshes, point lists, polygons) may take; beyond it the
// scene is refused with the figure before it is read further.
struct ReadOptions {
  bool confine = false;
  uint64_t max_bytes = UINT64_MAX;
};

// Memory of what a scene holds once read, reckoned per item before the items
// are made: a point of a point list, a corner of a polygon, a vertex and a
// triangle of a mesh (the reader's arrays and what they are placed in), and
// a light with its shader fields (reckoned per copy of an array).
constexpr uint64_t kBytesPerListedPoint = 240;
constexpr uint64_t kPolygonBytesPerCorner = 400;
constexpr uint64_t kMeshBytesPerVertex = 24;
constexpr uint64_t kMeshBytesPerTriangle = 20;
constexpr uint64_t kMeshReadBuffer = 2000000;  // the blocks a mesh file is read in
uint64_t light_read_bytes(const LightDesc& light);

// What makes a light of its kind: everything but its name and position.
// Lights of one kind (the copies of an array) emit the same light in their
// own frame, so that what depends only on that (the flux a light emits) is
// worked out once per kind. Empty for a light whose emission depends on
// where it stands (a spot stated by the illuminance at its focus).
std::string light_kind(const LightDesc& light);

// Reads a scene file; throws Error naming the file and the line or field.
Scene load_scene(const std::filesystem::path& path, const ReadOptions& options = {});
// Reads scene text; `file` names it in messages, `dir` anchors relative paths.
Scene parse_scene(const std::string& text, const std::string& file,
                  const std::filesystem::path& dir, const ReadOptions& options = {});

// Scene units by name ("metre", "cm", ...); nullopt for an unknown name.
std::optional<SceneUnit> scene_unit_named(const std::string& name);

}  // namespace lux
