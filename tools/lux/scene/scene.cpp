// Reading the scene file: JSON with comments allowed, every key checked so
// that a misspelt key is refused instead of silently ignored.
#include "tools/lux/scene/scene.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "tools/lux/scene/input_file.h"
#include "tools/lux/scene/scene_syntax.h"

namespace lux {

namespace {

using json = nlohmann::ordered_json;

// What reading one scene knows besides the text: its unit's bounds on
// geometry, where its data files may lie, and the memory what it has read so
// far is reckoned to take.
struct Context {
  std::filesystem::path dir;  // the scene's folder, which anchors relative paths
  ReadOptions options;
  double farthest = kFarthestMetres;  // scene units
  double smallest = kSmallestMetres;  // scene units
  std::string unit = "m";             // its symbol, for messages
  uint64_t bytes = 0;                 // reckoned memory of what is read
};

// Where in the scene file a value sits, for messages, and the reading's
// context.
struct Where {
  const std::string& file;
  std::string what;  // e.g. light "panel-1"
  Context* context = nullptr;
  [[noreturn]] void fail(const std::string& text) const {
    throw Error(file + ": " + (what.empty() ? "" : what + ": ") + text);
  }
  Where in(const std::string& inner) const {
    return {file, what.empty() ? inner : what + ": " + inner, context};
  }
};

std::string in_quotes(const std::string& s) { return "\"" + s + "\""; }

// An object of the scene file whose keys are read one by one; keys that
// nothing read are refused at the end.
class Object {
 public:
  // `keys`: every key this kind of object may have; others are refused at
  // once, before a missing key is missed (a misspelt key explains both).
  Object(const json& j, Where where, std::initializer_list<const char*> keys = {})
      : j_(j), where_(std::move(where)) {
    if (!j_.is_object()) where_.fail("expected an object { ... }");
    if (keys.size() == 0) return;
    for (const auto& item : j_.items()) {
      const std::string& key = item.key();
      if (std::none_of(keys.begin(), keys.end(), [&key](const char* k) { return key == k; }))
        where_.fail("unknown key " + in_quotes(key));
    }
  }
  const Where& where() const { return where_; }
  bool has(const std::string& key) const { return j_.contains(key); }

  const json& raw(const std::string& key) {
    if (!has(key)) where_.fail("missing " + in_quotes(key));
    used_.insert(key);
    return j_.at(key);
  }

  double number(const std::string& key, std::optional<double> fallback = std::nullopt) {
    if (!has(key)) return require(key, fallback);
    const json& v = raw(key);
    if (!v.is_number()) where_.fail(in_quotes(key) + " must be a number");
    const double d = v.get<double>();
    if (!std::isfinite(d)) where_.fail(in_quotes(key) + " must be finite");
    return d;
  }

  // A whole number within [least, most]; the range is checked before the
  // value is converted, so that no value of the file wraps round.
  int integer(const std::string& key, std::optional<int> fallback = std::nullopt,
              int least = std::numeric_limits<int>::min(),
              int most = std::numeric_limits<int>::max()) {
    if (!has(key)) return static_cast<int>(require(key, fallback));
    const json& v = raw(key);
    if (!v.is_number_integer()) where_.fail(in_quotes(key) + " must be a whole number");
    // Values above the signed range come as unsigned; compare in the type
    // that holds them.
    const bool inside = v.is_number_unsigned()
                            ? v.get<uint64_t>() <= static_cast<uint64_t>(std::max(most, 0)) &&
                                  (least <= 0 || v.get<uint64_t>() >= static_cast<uint64_t>(least))
                            : v.get<int64_t>() >= least && v.get<int64_t>() <= most;
    if (!inside)
      where_.fail(in_quotes(key) + " must lie between " + std::to_string(least) + " and " +
                  std::to_string(most));
    return static_cast<int>(v.get<int64_t>());
  }

  std::string text(const std::string& key, std::optional<std::string> fallback = std::nullopt) {
    if (!has(key)) {
      if (!fallback) where_.fail("missing " + in_quotes(key));
      return *fallback;
    }
    const json& v = raw(key);
    if (!v.is_string()) where_.fail(in_quotes(key) + " must be a string");
    return v.get<std::string>();
  }

  Vec3 vec3(const std::string& key, std::optional<Vec3> fallback = std::nullopt) {
    if (!has(key)) {
      if (!fallback) where_.fail("missing " + in_quotes(key));
      return *fallback;
    }
    const json& v = raw(key);
    if (!v.is_array() || v.size() != 3)
      where_.fail(in_quotes(key) + " must be a list of three numbers [x, y, z]");
    double c[3];
    for (size_t i = 0; i < 3; ++i) {
      if (!v[i].is_number()) where_.fail(in_quotes(key) + " must be a list of three numbers");
      c[i] = v[i].get<double>();
      if (!std::isfinite(c[i])) where_.fail(in_quotes(key) + " must be finite");
    }
    return {c[0], c[1], c[2]};
  }

  // Refuses the keys that were not read, naming the first.
  void finish() const {
    for (const auto& [key, value] : j_.items())
      if (used_.count(key) == 0) where_.fail("key " + in_quotes(key) + " has no meaning here");
  }

 private:
  template <typename T>
  T require(const std::string& key, std::optional<T> fallback) const {
    if (!fallback) where_.fail("missing " + in_quotes(key));
    return *fallback;
  }
  const json& j_;
  Where where_;
  std::set<std::string> used_;
};

double positive(Object& o, const std::string& key, std::optional<double> fallback = {}) {
  const double v = o.number(key, fallback);
  if (!(v > 0)) o.where().fail(in_quotes(key) + " must be greater than 0");
  return v;
}

std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

const Context& context_of(const Object& o) { return *o.where().context; }

// Refuses a place farther from the origin than the host's single precision
// can place lighting; `what` names the value in the message.
void check_reach(const Object& o, const std::string& what, Vec3 p) {
  const Context& c = context_of(o);
  if (!(reach(p) <= c.farthest))
    o.where().fail(what + " lies more than " + number_text(c.farthest) + " " + c.unit +
                   " (100 km) from the origin, beyond what the host's single precision places "
                   "to a centimetre: move the scene's origin near what it lights");
}

// A position of the scene, within reach of the origin.
Vec3 point(Object& o, const std::string& key, std::optional<Vec3> fallback = {}) {
  const Vec3 p = o.vec3(key, fallback);
  check_reach(o, in_quotes(key), p);
  return p;
}

// A length of an element: greater than 0 and no larger than the scene's reach.
double extent(Object& o, const std::string& key, std::optional<double> fallback = {}) {
  const double v = positive(o, key, fallback);
  if (!(v <= context_of(o).farthest))
    o.where().fail(in_quotes(key) + " " + number_text(v) + " is larger than the " +
                   number_text(context_of(o).farthest) + " " + context_of(o).unit +
                   " (100 km) a scene may span");
  return v;
}

// The least length single precision resolves at `at`: a micrometre, or a
// millionth of the distance from the origin.
double finest_at(const Context& c, Vec3 at) {
  return std::max(c.smallest, kFinestRelativeLength * reach(at));
}

// Refuses a length (a grid's cells, an area's side) that the host's single
// precision cannot tell from nothing where it lies.
void check_resolved(const Object& o, const std::string& what, double length, Vec3 at) {
  const Context& c = context_of(o);
  const double least = finest_at(c, at);
  if (!(length >= least))
    o.where().fail(what + " " + number_text(length) + " is below the " + number_text(least) + " " +
                   c.unit +
                   " single precision resolves there (a micrometre, or a millionth of the "
                   "distance from the origin)");
}

// Adds what an item read costs to the reading's reckoning and refuses the
// scene once it passes the bound, before the item is made.
void charge(const Where& where, double bytes, const std::string& what) {
  Context& c = *where.context;
  const double total = double(c.bytes) + bytes;
  if (total > double(c.options.max_bytes))
    where.fail(what + " would take about " + gigabytes(total) +
               " of memory to read, more than the " + gigabytes(double(c.options.max_bytes)) +
               " allowed: " + "make it smaller or allow more with --max-memory");
  c.bytes = static_cast<uint64_t>(total);
}

int count(Object& o, const std::string& key, int fallback, int most) {
  return o.integer(key, fallback, 1, most);
}

Vec3 direction(Object& o, const std::string& key, std::optional<Vec3> fallback = {}) {
  const Vec3 v = direction_of(o.vec3(key, fallback));
  if (!(reach(v) > 0)) o.where().fail(in_quotes(key) + " must not be the zero vector");
  return v;
}

ShaderFields shader_fields(Object& o, const std::string& key) {
  ShaderFields s;
  if (!o.has(key)) return s;
  const json& v = o.raw(key);
  if (!v.is_object()) o.where().fail(in_quotes(key) + " must be an object of shader fields");
  s.fields = v;
  return s;
}

bool has_control_character(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7f;
  });
}

// How messages call the index-th element of a list: by its name when it has
// one that can be shown, else by its place.
std::string label(const std::string& kind, const json& j, size_t index) {
  if (j.is_object() && j.contains("name") && j.at("name").is_string() &&
      !j.at("name").get<std::string>().empty() &&
      !has_control_character(j.at("name").get<std::string>()))
    return kind + " " + in_quotes(j.at("name").get<std::string>());
  return kind + " " + std::to_string(index + 1);
}

// A name heads table columns, names output files and appears in reports: a
// line break, tab or NUL in it would break a CSV row or a summary line.
std::string name_of(Object& o) {
  const std::string n = o.text("name");
  if (n.empty()) o.where().fail("\"name\" is empty");
  if (has_control_character(n))
    o.where().fail(
        "\"name\" holds a control character (a line break, tab or NUL); names head table "
        "columns and name files");
  return n;
}

const json& list(const json& top, const std::string& key, const Where& where) {
  static const json empty = json::array();
  if (!top.contains(key)) return empty;
  const json& v = top.at(key);
  if (!v.is_array()) where.fail(in_quotes(key) + " must be a list [ ... ]");
  return v;
}

SolidDesc solid(Object& o, const std::string& shape) {
  SolidDesc s;
  if (shape == "rectangle") {
    s.kind = SolidDesc::Rectangle;
    s.corner = point(o, "corner");
    s.u = o.vec3("u");
    s.v = o.vec3("v");
    check_reach(o, "the far corner", s.corner + s.u + s.v);
    check_reach(o, "the corner at \"u\"", s.corner + s.u);
    check_reach(o, "the corner at \"v\"", s.corner + s.v);
    if (length(cross(s.u, s.v)) == 0) o.where().fail("\"u\" and \"v\" span no area");
  } else if (shape == "disc") {
    s.kind = SolidDesc::Disc;
    s.center = point(o, "center");
    s.normal = direction(o, "normal", Vec3{0, 0, 1});
    s.radius = extent(o, "radius");
  } else if (shape == "sphere") {
    s.kind = SolidDesc::Sphere;
    s.center = point(o, "center");
    s.radius = extent(o, "radius");
  } else if (shape == "box") {
    s.kind = SolidDesc::Box;
    s.min = point(o, "min");
    s.max = point(o, "max");
    if (!(s.min.x < s.max.x && s.min.y < s.max.y && s.min.z < s.max.z))
      o.where().fail("\"min\" must be below \"max\" on every axis");
  } else {
    o.where().fail("unknown shape " + in_quotes(shape) + " (rectangle, disc, sphere or box)");
  }
  return s;
}

miColor transparency(Object& o) {
  if (!o.has("transparency")) return {0, 0, 0, 0};
  const json& v = o.raw("transparency");
  double c[3];
  if (v.is_number()) {
    c[0] = c[1] = c[2] = v.get<double>();
  } else if (v.is_array() && v.size() == 3 && v[0].is_number() && v[1].is_number() &&
             v[2].is_number()) {
    for (size_t i = 0; i < 3; ++i) c[i] = v[i].get<double>();
  } else {
    o.where().fail("\"transparency\" must be a number or a list [r, g, b]");
  }
  for (double x : c)
    if (!(x >= 0 && x <= 1)) o.where().fail("\"transparency\" must lie between 0 and 1");
  return {float(c[0]), float(c[1]), float(c[2]), 0};
}

// A luminous reflectance: a surface that reflected all it receives would
// keep the light bouncing for ever, so 1 is refused with everything above.
double reflectance(Object& o, double fallback = kOtherReflectance) {
  const double r = o.number("reflectance", fallback);
  if (!(r >= 0 && r < 1))
    o.where().fail("\"reflectance\" must lie in [0, 1): at least 0 and below 1");
  return r;
}

// What a luminaire's emitting face reflects of the light that comes back to
// it: absorbed (0) unless the scene gives a diffuser's value.
double opening_reflectance(Object& o) {
  const double r = o.number("opening_reflectance", 0.0);
  if (!(r >= 0 && r < 1))
    o.where().fail("\"opening_reflectance\" must lie in [0, 1): at least 0 and below 1");
  return r;
}

// A maintenance factor: the fraction of the new light still given at the
// end of the maintenance cycle, above 0 and at most 1.
double maintenance_factor(Object& o) {
  const double mf = o.number("maintenance_factor");
  if (!(mf >= kLeastMaintenanceFactor && mf <= 1))
    o.where().fail("\"maintenance_factor\" must lie between 0.01 and 1, not " + number_text(mf) +
                   " (the fraction of the new light still given at the end of the maintenance "
                   "cycle)");
  return mf;
}

// A spacing: a length, or "standard" for the standard grid rule.
void spacing(Object& o, double& value, bool& standard) {
  if (o.has("spacing") && o.raw("spacing").is_string()) {
    if (o.raw("spacing") != "standard")
      o.where().fail("\"spacing\" must be a length or \"standard\"");
    standard = true;
    return;
  }
  value = extent(o, "spacing");
}

double non_negative(Object& o, const std::string& key, double fallback) {
  const double v = o.number(key, fallback);
  if (v < 0) o.where().fail(in_quotes(key) + " must not be negative");
  return v;
}

// The keys each kind of object of the scene file may have.
constexpr std::initializer_list<const char*> kProfileKeys = {"name", "file", "format", "shader"};
constexpr std::initializer_list<const char*> kLightKeys = {"name",
                                                           "type",
                                                           "shape",
                                                           "size",
                                                           "radius",
                                                           "length",
                                                           "position",
                                                           "aim",
                                                           "spin",
                                                           "decay",
                                                           "spot_direction",
                                                           "cone_angle",
                                                           "samples",
                                                           "shader",
                                                           "maintenance_factor",
                                                           "array",
                                                           "flux",
                                                           "opening_reflectance"};
constexpr std::initializer_list<const char*> kArrayKeys = {"rows", "columns", "spacing", "offset"};
constexpr std::initializer_list<const char*> kObjectLightKeys = {"name",
                                                                 "shape",
                                                                 "corner",
                                                                 "u",
                                                                 "v",
                                                                 "center",
                                                                 "normal",
                                                                 "radius",
                                                                 "min",
                                                                 "max",
                                                                 "decay",
                                                                 "samples",
                                                                 "shader",
                                                                 "object_shader",
                                                                 "maintenance_factor",
                                                                 "flux",
                                                                 "opening_reflectance"};
constexpr std::initializer_list<const char*> kOccluderKeys = {
    "name", "shape", "corner",       "u",          "v", "center", "normal", "radius",
    "min",  "max",   "transparency", "reflectance"};
constexpr std::initializer_list<const char*> kSurfaceKeys = {
    "name",        "corner",  "u",     "v",      "spacing",    "normal", "role",
    "reflectance", "polygon", "holes", "margin", "task_areas", "targets"};
constexpr std::initializer_list<const char*> kRoomKeys = {"position", "size", "spacing", "faces",
                                                          "targets"};
constexpr std::initializer_list<const char*> kRoomFaceKeys = {"reflectance", "spacing", "targets"};
constexpr std::initializer_list<const char*> kInterreflectionKeys = {"accuracy", "patch_size",
                                                                     "residual"};
constexpr std::initializer_list<const char*> kTaskKeys = {"name",        "corner",     "size",
                                                          "surrounding", "background", "targets"};
constexpr std::initializer_list<const char*> kObserverKeys = {"name", "position", "directions",
                                                              "targets"};
constexpr std::initializer_list<const char*> kCylindricalKeys = {
    "name", "corner", "u", "v", "spacing", "margin", "heights", "targets"};
constexpr std::initializer_list<const char*> kGlareKeys = {"default_observers", "eye_height",
                                                           "targets"};
constexpr std::initializer_list<const char*> kTargetKeys = {"task", "Em", "U0", "Ez", "UGR"};
constexpr std::initializer_list<const char*> kRoomTargetKeys = {"task"};
constexpr std::initializer_list<const char*> kMeshKeys = {
    "name", "file",        "position",  "rotation",    "scale",
    "unit", "reflectance", "materials", "transparency"};
constexpr std::initializer_list<const char*> kPointListKeys = {"name", "file"};
constexpr std::initializer_list<const char*> kViewKeys = {
    "position", "look_at", "up", "fov", "width", "height", "samples", "exposure"};
constexpr std::initializer_list<const char*> kSceneKeys = {
    "title",     "scene_unit",    "samples",   "accuracy",        "profiles",
    "lights",    "light_objects", "occluders", "surfaces",        "view",
    "meshes",    "points",        "room",      "interreflection", "maintenance_factor",
    "observers", "cylindrical",   "ugr"};

// The names the built-in task table answers to, for messages.
std::string task_names() {
  std::string names;
  for (const TaskEntry& t : task_table())
    names += (names.empty() ? "" : ", ") + std::string(t.reference) + " " + t.name;
  return names;
}

// Which of the target keys an area of `kind` may state.
std::vector<std::string> target_keys(AreaKind kind) {
  switch (kind) {
    case AreaKind::Task:
    case AreaKind::Wall:
    case AreaKind::Ceiling:
      return {"Em", "U0"};
    case AreaKind::Cylindrical:
      return {"Ez", "U0"};
    case AreaKind::Observer:
      return {"UGR"};
  }
  return {};
}

// The task of the built-in table a "targets" object names.
const TaskEntry& named_task(Object& t) {
  const std::string key = t.text("task");
  const TaskEntry* task = find_task(key);
  if (task == nullptr)
    t.where().fail("unknown task " + in_quotes(key) + " (the built-in " + kTaskEdition +
                   " tasks are " + task_names() + ")");
  return *task;
}

// An area's "targets": a task of the built-in table, whose figures for an
// area of `kind` it takes, and figures stated one by one, which take the
// place of the task's.
Targets targets(Object& o, AreaKind kind) {
  if (!o.has("targets")) return {};
  Object t(o.raw("targets"), o.where().in("\"targets\""), kTargetKeys);
  Targets out;
  if (t.has("task")) out = targets_of(named_task(t), kind);
  const std::vector<std::string> keys = target_keys(kind);
  std::string allowed;
  for (const auto& a : keys) allowed += (allowed.empty() ? "" : ", ") + a;
  for (const std::string key : {"Em", "U0", "Ez", "UGR"}) {
    if (!t.has(key)) continue;
    if (std::find(keys.begin(), keys.end(), key) == keys.end())
      t.where().fail(in_quotes(key) + " is not a target here (" + allowed + ")");
    const double v = t.number(key);
    if (key == "U0" && !(v > 0 && v <= 1)) t.where().fail("\"U0\" must lie above 0 and at most 1");
    if (key != "U0" && !(v > 0)) t.where().fail(in_quotes(key) + " must be greater than 0");
    const Target given{v, "scene"};
    if (key == "Em") out.em = given;
    if (key == "U0") out.u0 = given;
    if (key == "Ez") out.ez = given;
    if (key == "UGR") out.ugr = given;
  }
  if (out.empty())
    t.where().fail(t.has("task") ? "task " + in_quotes(out.task) + " gives no figure for this area"
                                 : "states no target (\"task\" or " + allowed + ")");
  t.finish();
  return out;
}

// What part of a room a surface is for a task's figures: a calculation
// surface is where the task is done; a reflecting one facing down is a
// ceiling, one facing sideways a wall, one facing up a floor or table,
// where a task is done.
AreaKind surface_kind(const SurfaceDesc& s) {
  constexpr double kHalfTurnCosine = 0.7071067811865476;  // cos 45°
  if (s.role != SurfaceRole::Reflecting || s.normal.z > kHalfTurnCosine) return AreaKind::Task;
  return s.normal.z < -kHalfTurnCosine ? AreaKind::Ceiling : AreaKind::Wall;
}

// A data file an element names, relative to the scene's folder unless
// absolute; with --confine it must lie in that folder or below.
std::filesystem::path file_of(Object& o) {
  const std::string file = o.text("file");
  if (file.empty()) o.where().fail("\"file\" is empty");
  const Context& c = context_of(o);
  const std::filesystem::path path =
      std::filesystem::path(file).is_absolute() ? std::filesystem::path(file) : c.dir / file;
  if (c.options.confine && !lies_within(path, c.dir))
    o.where().fail("\"file\" " + in_quotes(file) + " lies outside the scene's folder, where " +
                   "--confine keeps data files");
  return path;
}

ProfileDesc profile(const json& j, const Where& where, size_t index) {
  Object named(j, where.in(label("profile", j, index)), kProfileKeys);
  ProfileDesc p;
  p.name = name_of(named);
  p.file = file_of(named);
  if (named.has("format")) {
    const json& f = named.raw("format");
    if (f == "ies" || f == 1) {
      p.format = 1;
    } else if (f == "eulumdat" || f == 2) {
      p.format = 2;
    } else {
      named.where().fail("\"format\" must be \"ies\" or \"eulumdat\"");
    }
  } else {
    const std::string ext = p.file.extension().string();
    p.format = (ext == ".ldt" || ext == ".LDT") ? 2 : 1;
  }
  p.shader = shader_fields(named, "shader");
  named.finish();
  return p;
}

// A rectangular array of copies of `entry`: columns along the world's x,
// rows along its y, `entry` at row 1, column 1; every second row shifted by
// `offset` (a staggered layout). Each copy is named entry[row,column].
std::vector<LightDesc> light_array(const LightDesc& entry, const json& j, const Where& where) {
  Object o(j, where.in("\"array\""), kArrayKeys);
  constexpr int kMostPerSide = 1000;
  const int rows = count(o, "rows", 1, kMostPerSide);
  const int columns = count(o, "columns", 1, kMostPerSide);
  double sx = 0, sy = 0;
  if (rows * columns > 1 || o.has("spacing")) {
    const json& sp = o.raw("spacing");
    if (sp.is_number()) {
      sx = sy = sp.get<double>();
    } else if (sp.is_array() && sp.size() == 2 && sp[0].is_number() && sp[1].is_number()) {
      sx = sp[0].get<double>();
      sy = sp[1].get<double>();
    } else {
      o.where().fail("\"spacing\" must be a length or [along x, along y]");
    }
    if (!(sx > 0 && sy > 0 && std::isfinite(sx) && std::isfinite(sy)))
      o.where().fail("\"spacing\" must be greater than 0");
  }
  Vec3 offset{};
  if (o.has("offset")) {
    const json& of = o.raw("offset");
    if (!of.is_array() || of.size() != 2 || !of[0].is_number() || !of[1].is_number())
      o.where().fail("\"offset\" must be [along x, along y]");
    offset = {of[0].get<double>(), of[1].get<double>(), 0};
  }
  o.finish();
  // The array's far corners lie within reach, and its lights are reckoned
  // before they are made.
  const Vec3 last{(columns - 1) * sx, (rows - 1) * sy, 0};
  for (const Vec3 corner :
       {entry.position + last, entry.position + last + offset, entry.position + offset})
    check_reach(o, "the array's far corner", corner);
  charge(o.where(), double(rows) * double(columns) * double(light_read_bytes(entry)),
         "the array of " + std::to_string(rows) + " x " + std::to_string(columns) + " lights");
  std::vector<LightDesc> out;
  out.reserve(size_t(rows) * size_t(columns));
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      LightDesc l = entry;
      l.name = entry.name + "[" + std::to_string(r + 1) + "," + std::to_string(c + 1) + "]";
      l.position = entry.position + Vec3{c * sx, r * sy, 0} + (r % 2 == 1 ? offset : Vec3{});
      out.push_back(l);
    }
  return out;
}

std::vector<LightDesc> light(const json& j, const Where& where, size_t index) {
  Object o(j, where.in(label("light", j, index)), kLightKeys);
  LightDesc l;
  l.name = name_of(o);
  const std::string type = o.text("type", "point");
  if (type == "spot") {
    l.spot = true;
  } else if (type != "point") {
    o.where().fail("unknown type " + in_quotes(type) + " (point or spot)");
  }
  l.shape_given = o.has("shape");
  const std::string shape = o.text("shape", "point");
  if (shape == "point") {
    l.shape = Shape::Point;
  } else if (shape == "rectangle") {
    l.shape = Shape::Rectangle;
    if (!o.has("size")) o.where().fail("missing \"size\" [width, height]");
    const json& size = o.raw("size");
    if (!size.is_array() || size.size() != 2 || !size[0].is_number() || !size[1].is_number() ||
        !(size[0].get<double>() > 0) || !(size[1].get<double>() > 0))
      o.where().fail("\"size\" must be [width, height], both greater than 0");
    l.width = size[0].get<double>();
    l.height = size[1].get<double>();
    if (!(std::max(l.width, l.height) <= context_of(o).farthest))
      o.where().fail("\"size\" is larger than the 100 km a scene may span");
  } else if (shape == "disc" || shape == "sphere") {
    l.shape = shape == "disc" ? Shape::Disc : Shape::Sphere;
    l.radius = extent(o, "radius");
  } else if (shape == "cylinder") {
    l.shape = Shape::Cylinder;
    l.radius = extent(o, "radius");
    l.length = extent(o, "length");
  } else {
    o.where().fail("unknown shape " + in_quotes(shape) +
                   " (point, rectangle, disc, sphere or cylinder)");
  }
  l.position = point(o, "position");
  l.aim = direction(o, "aim", Vec3{0, 0, -1});
  l.spin = o.number("spin", 0.0);
  l.decay = o.number("decay", 2.0);
  if (o.has("spot_direction")) l.spot_direction = direction(o, "spot_direction");
  if (l.spot) {
    l.cone_angle = o.number("cone_angle");
    if (!(l.cone_angle > 0 && l.cone_angle <= 180))
      o.where().fail("\"cone_angle\" must lie above 0 and at most 180 degrees");
  } else if (o.has("cone_angle") || o.has("spot_direction")) {
    o.where().fail("a cone needs \"type\": \"spot\"");
  }
  if (o.has("samples")) l.samples = count(o, "samples", 1, 1 << 20);
  if (o.has("maintenance_factor")) l.maintenance_factor = maintenance_factor(o);
  if (o.has("flux")) l.flux = positive(o, "flux");
  l.opening_reflectance = opening_reflectance(o);
  l.shader = shader_fields(o, "shader");
  std::vector<LightDesc> out;
  if (o.has("array")) {
    out = light_array(l, o.raw("array"), o.where());
  } else {
    charge(o.where(), double(light_read_bytes(l)), "the light");
    out.push_back(l);
  }
  o.finish();
  return out;
}

ObjectLightDesc object_light(const json& j, const Where& where, size_t index) {
  Object o(j, where.in(label("light object", j, index)), kObjectLightKeys);
  ObjectLightDesc l;
  l.name = name_of(o);
  l.solid = solid(o, o.text("shape"));
  l.decay = o.number("decay", 2.0);
  if (o.has("samples")) l.samples = count(o, "samples", 1, 1 << 20);
  if (o.has("maintenance_factor")) l.maintenance_factor = maintenance_factor(o);
  if (o.has("flux")) l.flux = positive(o, "flux");
  l.opening_reflectance = opening_reflectance(o);
  l.shader = shader_fields(o, "shader");
  l.object_shader = shader_fields(o, "object_shader");
  o.finish();
  return l;
}

OccluderDesc occluder(const json& j, const Where& where, size_t index) {
  Object o(j, where.in(label("occluder", j, index)), kOccluderKeys);
  OccluderDesc d;
  d.name = name_of(o);
  d.solid = solid(o, o.text("shape"));
  d.transparency = transparency(o);
  d.reflectance = reflectance(o);
  o.finish();
  return d;
}

// Grid points are kept in memory a few times over; a surface may have at
// most this many.
constexpr double kMostGridPoints = 4e6;
// Defaults in metres, converted to the scene's unit.
constexpr double kRoomGridSpacingMetres = 0.5;

void check_grid_size(Object& o, const SurfaceDesc& s) {
  if (!s.standard_spacing) check_resolved(o, "\"spacing\"", s.spacing, s.corner);
  if (s.standard_spacing) return;  // the budget reckons the standard's points
  const double cells = std::ceil((length(s.u) - 2 * s.margin) / s.spacing) *
                       std::ceil((length(s.v) - 2 * s.margin) / s.spacing);
  if (cells > kMostGridPoints) o.where().fail("\"spacing\" gives more than 4 million grid points");
}

// Coordinates (s, t) of `p` − corner in the basis u, v (least squares).
std::pair<double, double> plane_coordinates(Vec3 d, Vec3 u, Vec3 v) {
  const double uu = dot(u, u), uv = dot(u, v), vv = dot(v, v);
  const double du = dot(d, u), dv = dot(d, v);
  const double det = uu * vv - uv * uv;
  return {(du * vv - dv * uv) / det, (dv * uu - du * uv) / det};
}

TaskAreaDesc task_area(const json& j, const Where& where, size_t index, const SurfaceDesc& s,
                       const SceneUnit& unit) {
  Object o(j, where.in(label("task area", j, index)), kTaskKeys);
  TaskAreaDesc t;
  t.name = name_of(o);
  t.corner = point(o, "corner");
  if (!o.has("size")) o.where().fail("missing \"size\" [along u, along v]");
  const json& size = o.raw("size");
  if (!size.is_array() || size.size() != 2 || !size[0].is_number() || !size[1].is_number() ||
      !(size[0].get<double>() > 0) || !(size[1].get<double>() > 0))
    o.where().fail("\"size\" must be [along u, along v], both greater than 0");
  t.size_u = size[0].get<double>();
  t.size_v = size[1].get<double>();
  check_resolved(o, "\"size\" along u", t.size_u, t.corner);
  check_resolved(o, "\"size\" along v", t.size_v, t.corner);
  t.surrounding = non_negative(o, "surrounding", 0.5 / unit.metres);
  t.background = non_negative(o, "background", 3.0 / unit.metres);
  t.targets = targets(o, AreaKind::Task);
  t.surrounding_targets = surrounding_targets(t.targets);
  t.background_targets = background_targets(t.surrounding_targets);
  if (!(std::max(t.surrounding, t.background) <= context_of(o).farthest))
    o.where().fail(
        "\"surrounding\" and \"background\" must be narrower than the 100 km a scene "
        "may span");
  o.finish();
  // The task must lie on its surface: in its plane and within its edges.
  const double tol = 1e-6 * std::max(length(s.u), length(s.v));
  const Vec3 d = t.corner - s.corner;
  const Vec3 n = normalize(cross(s.u, s.v));
  if (std::fabs(dot(d, n)) > tol) o.where().fail("\"corner\" lies off the plane of its surface");
  const auto [a, b] = plane_coordinates(d, s.u, s.v);
  const double lu = length(s.u), lv = length(s.v);
  if (a * lu < -tol || b * lv < -tol || a * lu + t.size_u > lu + tol ||
      b * lv + t.size_v > lv + tol)
    o.where().fail("lies outside its surface (\"corner\" and \"size\" reach beyond the surface)");
  return t;
}

// A list of corners [[x, y, z], ...], each within reach of the origin.
std::vector<Vec3> corners(const json& v, const Where& where, const std::string& what) {
  if (!v.is_array()) where.fail(what + " must be a list of corners [[x, y, z], ...]");
  charge(where, double(v.size()) * double(kPolygonBytesPerCorner), what);
  std::vector<Vec3> out;
  out.reserve(v.size());
  const double farthest = where.context->farthest;
  for (const auto& c : v) {
    if (!c.is_array() || c.size() != 3 || !c[0].is_number() || !c[1].is_number() ||
        !c[2].is_number())
      where.fail(what + " must be a list of corners [[x, y, z], ...]");
    out.push_back({c[0].get<double>(), c[1].get<double>(), c[2].get<double>()});
    if (!(reach(out.back()) <= farthest))
      where.fail(what + ": corner " + std::to_string(out.size()) + " lies more than " +
                 number_text(farthest) + " " + where.context->unit +
                 " (100 km) from the origin, beyond what the host's single precision places "
                 "to a centimetre");
  }
  return out;
}

// A polygon area: the rectangle around it takes the place of corner, u, v.
void polygon(Object& o, SurfaceDesc& s) {
  if (o.has("corner") || o.has("u") || o.has("v"))
    o.where().fail("a surface has either \"polygon\" or \"corner\", \"u\" and \"v\"");
  const auto outline = corners(o.raw("polygon"), o.where(), "\"polygon\"");
  std::vector<std::vector<Vec3>> holes;
  if (o.has("holes")) {
    const json& h = o.raw("holes");
    if (!h.is_array()) o.where().fail("\"holes\" must be a list of polygons");
    for (const auto& ring : h) holes.push_back(corners(ring, o.where(), "each hole"));
  }
  try {
    const PolygonArea a = polygon_area(outline, holes);
    s.corner = a.corner;
    s.u = a.u;
    s.v = a.v;
    s.outline = a.rings;
  } catch (const std::invalid_argument& e) {
    o.where().fail(std::string("polygon refused: ") + e.what());
  }
}

SurfaceDesc surface(const json& j, const Where& where, size_t index, const SceneUnit& unit) {
  Object o(j, where.in(label("surface", j, index)), kSurfaceKeys);
  SurfaceDesc s;
  s.name = name_of(o);
  if (o.has("polygon")) {
    polygon(o, s);
  } else {
    if (o.has("holes")) o.where().fail("\"holes\" belong to a \"polygon\"");
    s.corner = point(o, "corner");
    s.u = o.vec3("u");
    s.v = o.vec3("v");
    check_reach(o, "the far corner", s.corner + s.u + s.v);
    check_reach(o, "the corner at \"u\"", s.corner + s.u);
    check_reach(o, "the corner at \"v\"", s.corner + s.v);
  }
  const Vec3 plane_normal = cross(s.u, s.v);
  if (length(plane_normal) == 0) o.where().fail("\"u\" and \"v\" span no area");
  check_resolved(o, "the side along \"u\"", length(s.u), s.corner);
  check_resolved(o, "the side along \"v\"", length(s.v), s.corner);
  spacing(o, s.spacing, s.standard_spacing);
  s.margin = non_negative(o, "margin", 0.0);
  if (2 * s.margin >= std::min(length(s.u), length(s.v)))
    o.where().fail("\"margin\" leaves nothing of the surface");
  s.normal = direction(o, "normal", normalize(plane_normal));
  if (std::fabs(dot(s.normal, normalize(plane_normal))) < 1e-6)
    o.where().fail("\"normal\" lies in the surface");
  check_grid_size(o, s);
  const std::string role = o.text("role", "calculation");
  if (role == "reflecting") {
    s.role = SurfaceRole::Reflecting;
  } else if (role != "calculation") {
    o.where().fail("unknown \"role\" " + in_quotes(role) + " (calculation or reflecting)");
  }
  // A calculation surface reflects nothing; its reflectance only says how
  // bright the camera view would draw it, and is refused there.
  if (s.role == SurfaceRole::Calculation && o.has("reflectance"))
    o.where().fail(
        "\"reflectance\" needs \"role\": \"reflecting\" (a calculation surface lets all light "
        "through)");
  s.reflectance = reflectance(o);
  s.targets = targets(o, surface_kind(s));
  // A reflecting polygon is traced and cut into patches as its convex
  // pieces; one too thin to leave any has nothing to reflect with.
  if (s.role == SurfaceRole::Reflecting && !s.outline.empty() && convex_pieces(s.outline).empty())
    o.where().fail("the polygon is too thin to reflect: cut into convex pieces it leaves none");
  if (o.has("task_areas")) {
    const json& tasks = o.raw("task_areas");
    if (!tasks.is_array()) o.where().fail("\"task_areas\" must be a list [ ... ]");
    std::set<std::string> names;
    for (size_t i = 0; i < tasks.size(); ++i) {
      s.task_areas.push_back(task_area(tasks[i], o.where(), i, s, unit));
      if (!names.insert(s.task_areas.back().name).second)
        o.where().fail("two task areas named " + in_quotes(s.task_areas.back().name));
    }
  }
  o.finish();
  return s;
}

// The six inward-facing faces of a room, named after their place (north
// is +y, east +x), each a reflecting surface with a grid.
std::vector<SurfaceDesc> room(const json& j, const Where& where, const SceneUnit& unit) {
  Object o(j, where.in("room"), kRoomKeys);
  const Vec3 p = point(o, "position", Vec3{0, 0, 0});
  if (!o.has("size")) o.where().fail("missing \"size\" [x, y, z]");
  const Vec3 size = o.vec3("size");
  if (!(size.x > 0 && size.y > 0 && size.z > 0))
    o.where().fail("\"size\" must be [x, y, z], each greater than 0 (got [" + number_text(size.x) +
                   ", " + number_text(size.y) + ", " + number_text(size.z) + "])");
  check_reach(o, "the room's far corner", p + size);
  for (const double side : {size.x, size.y, size.z}) check_resolved(o, "\"size\"", side, p);
  const double spacing = extent(o, "spacing", kRoomGridSpacingMetres / unit.metres);
  const Vec3 X{size.x, 0, 0}, Y{0, size.y, 0}, Z{0, 0, size.z};
  struct Face {
    const char* name;
    Vec3 corner, u, v, normal;
    double reflectance;
  };
  const Face faces[] = {
      {"ceiling", p + Z, X, Y, {0, 0, -1}, kCeilingReflectance},
      {"floor", p, X, Y, {0, 0, 1}, kFloorReflectance},
      {"north wall", p + Y, X, Z, {0, -1, 0}, kWallReflectance},
      {"south wall", p, X, Z, {0, 1, 0}, kWallReflectance},
      {"east wall", p + X, Y, Z, {-1, 0, 0}, kWallReflectance},
      {"west wall", p, Y, Z, {1, 0, 0}, kWallReflectance},
  };
  json overrides = json::object();
  if (o.has("faces")) {
    overrides = o.raw("faces");
    if (!overrides.is_object()) o.where().fail("\"faces\" must be an object of faces by name");
    for (const auto& item : overrides.items())
      if (std::none_of(std::begin(faces), std::end(faces),
                       [&](const Face& f) { return item.key() == f.name; }))
        o.where().fail("\"faces\": unknown face " + in_quotes(item.key()) +
                       " (ceiling, floor, north wall, south wall, east wall, west wall)");
  }
  // A task for the whole room gives its walls and ceiling what the task
  // asks of them.
  const TaskEntry* room_task = nullptr;
  if (o.has("targets")) {
    Object t(o.raw("targets"), o.where().in("\"targets\""), kRoomTargetKeys);
    room_task = &named_task(t);
    t.finish();
  }
  std::vector<SurfaceDesc> out;
  for (const Face& f : faces) {
    SurfaceDesc s;
    s.name = f.name;
    s.corner = f.corner;
    s.u = f.u;
    s.v = f.v;
    s.normal = f.normal;
    s.role = SurfaceRole::Reflecting;
    s.room_face = true;
    s.spacing = spacing;
    s.reflectance = f.reflectance;
    const AreaKind kind = f.normal.z < 0   ? AreaKind::Ceiling
                          : f.normal.z > 0 ? AreaKind::Task
                                           : AreaKind::Wall;
    if (room_task != nullptr && kind != AreaKind::Task) s.targets = targets_of(*room_task, kind);
    if (overrides.contains(f.name)) {
      Object face(overrides.at(f.name), o.where().in("face " + in_quotes(f.name)), kRoomFaceKeys);
      s.spacing = extent(face, "spacing", spacing);
      s.reflectance = reflectance(face, f.reflectance);
      if (face.has("targets")) s.targets = targets(face, kind);
      face.finish();
    }
    check_grid_size(o, s);
    out.push_back(s);
  }
  o.finish();
  return out;
}

Interreflection interreflection(const json& j, const Where& where) {
  Interreflection r;
  if (j.is_null()) return r;
  Object o(j, where.in("interreflection"), kInterreflectionKeys);
  if (o.has("patch_size")) r.patch_size = positive(o, "patch_size");
  r.accuracy = positive(o, "accuracy", r.accuracy);
  if (r.accuracy > kCoarsestInterreflectionAccuracy || r.accuracy < kFinestInterreflectionAccuracy)
    o.where().fail("\"accuracy\" must lie between 0.0001 and 0.2");
  r.residual = positive(o, "residual", r.residual);
  if (r.residual > 1e-3) o.where().fail("\"residual\" must be at most 0.001");
  o.finish();
  return r;
}

ObserverDesc observer(const json& j, const Where& where, size_t index) {
  Object o(j, where.in(label("observer", j, index)), kObserverKeys);
  ObserverDesc d;
  d.name = name_of(o);
  d.position = point(o, "position");
  if (!o.has("directions")) o.where().fail("missing \"directions\" [[x, y, z], ...]");
  const json& dirs = o.raw("directions");
  if (!dirs.is_array() || dirs.empty())
    o.where().fail("\"directions\" must be a list of directions [[x, y, z], ...]");
  for (const json& v : dirs) {
    if (!v.is_array() || v.size() != 3 || !v[0].is_number() || !v[1].is_number() ||
        !v[2].is_number())
      o.where().fail("\"directions\" must be a list of directions [[x, y, z], ...]");
    const Vec3 h = direction_of({v[0].get<double>(), v[1].get<double>(), 0});
    if (!(reach(h) > 0)) o.where().fail("\"directions\": a viewing direction must not be vertical");
    d.directions.push_back(h);
  }
  d.targets = targets(o, AreaKind::Observer);
  o.finish();
  return d;
}

CylindricalDesc cylindrical(const json& j, const Where& where, size_t index,
                            const SceneUnit& unit) {
  Object o(j, where.in(label("cylindrical area", j, index)), kCylindricalKeys);
  CylindricalDesc c;
  c.name = name_of(o);
  c.corner = point(o, "corner");
  c.u = o.vec3("u");
  c.v = o.vec3("v");
  if (c.u.z != 0 || c.v.z != 0) o.where().fail("\"u\" and \"v\" must be horizontal");
  check_reach(o, "the far corner", c.corner + c.u + c.v);
  check_reach(o, "the corner at \"u\"", c.corner + c.u);
  check_reach(o, "the corner at \"v\"", c.corner + c.v);
  if (length(cross(c.u, c.v)) == 0) o.where().fail("\"u\" and \"v\" span no area");
  check_resolved(o, "the side along \"u\"", length(c.u), c.corner);
  check_resolved(o, "the side along \"v\"", length(c.v), c.corner);
  spacing(o, c.spacing, c.standard_spacing);
  if (!c.standard_spacing) check_resolved(o, "\"spacing\"", c.spacing, c.corner);
  c.margin = non_negative(o, "margin", 0.0);
  if (2 * c.margin >= std::min(length(c.u), length(c.v)))
    o.where().fail("\"margin\" leaves nothing of the area");
  c.targets = targets(o, AreaKind::Cylindrical);
  if (!c.standard_spacing &&
      std::ceil(length(c.u) / c.spacing) * std::ceil(length(c.v) / c.spacing) > 1e6)
    o.where().fail("\"spacing\" gives more than a million points");
  if (o.has("heights")) {
    const json& h = o.raw("heights");
    if (!h.is_array() || h.empty())
      o.where().fail("\"heights\" must be a list of heights above \"corner\"");
    for (const json& x : h) {
      if (!x.is_number() || !(x.get<double>() > 0))
        o.where().fail("\"heights\" must be heights greater than 0");
      check_reach(o, "\"heights\": the eye", c.corner + Vec3{0, 0, x.get<double>()});
      c.heights.push_back(x.get<double>());
    }
  } else {
    c.heights = {1.2 / unit.metres, 1.6 / unit.metres};  // seated and standing eyes
  }
  o.finish();
  return c;
}

GlareDesc glare(const json& j, const Where& where, const SceneUnit& unit) {
  Object o(j, where.in("\"ugr\""), kGlareKeys);
  GlareDesc g;
  if (o.has("default_observers")) {
    const json& d = o.raw("default_observers");
    if (!d.is_boolean()) o.where().fail("\"default_observers\" must be true or false");
    g.default_observers = d.get<bool>();
  }
  g.eye_height = extent(o, "eye_height", 1.2 / unit.metres);
  g.targets = targets(o, AreaKind::Observer);
  o.finish();
  return g;
}

MeshDesc mesh(const json& j, const Where& where, const SceneUnit& scene_unit, size_t index) {
  Object o(j, where.in(label("mesh", j, index)), kMeshKeys);
  MeshDesc m;
  m.name = name_of(o);
  m.file = file_of(o);
  m.placement.position = point(o, "position", Vec3{});
  m.placement.rotation = o.vec3("rotation", Vec3{});
  m.placement.scale = positive(o, "scale", 1.0);
  const std::string unit = o.text("unit", scene_unit.name);
  const auto u = scene_unit_named(unit);
  if (!u) o.where().fail("unknown \"unit\" " + in_quotes(unit));
  m.placement.unit = u->metres / scene_unit.metres;
  const double fallback = reflectance(o);
  std::map<std::string, double> overrides;
  if (o.has("materials")) {
    const json& v = o.raw("materials");
    if (!v.is_object()) o.where().fail("\"materials\" must be an object {name: reflectance}");
    for (const auto& [name, r] : v.items()) {
      if (!r.is_number() || !(r.get<double>() >= 0 && r.get<double>() < 1))
        o.where().fail("the reflectance of material " + in_quotes(name) +
                       " must be a number from 0 up to (not including) 1");
      overrides[name] = r.get<double>();
    }
  }
  m.transparency = transparency(o);
  o.finish();
  const Context& c = context_of(o);
  MeshLimits limits;
  if (c.options.confine) limits.confine_to = c.dir;
  limits.farthest = c.farthest;
  limits.reckon = [&o](uint64_t vertices, uint64_t triangles) {
    charge(o.where(),
           double(kMeshReadBuffer) + double(vertices) * double(kMeshBytesPerVertex) +
               double(triangles) * double(kMeshBytesPerTriangle),
           "the mesh of " + std::to_string(triangles) + " triangles");
  };
  try {
    m.mesh = load_obj(m.file, m.placement, overrides, fallback, limits);
  } catch (const Error& e) {
    o.where().fail(e.what());
  }
  return m;
}

PointListDesc point_list(const json& j, const Where& where, size_t index) {
  Object o(j, where.in(label("point list", j, index)), kPointListKeys);
  PointListDesc p;
  p.name = name_of(o);
  p.file = file_of(o);
  o.finish();
  try {
    const std::string text = read_input_file(p.file, "the point list");
    charge(o.where(),
           double(std::count(text.begin(), text.end(), '\n') + 1) * double(kBytesPerListedPoint),
           "the point list");
    p.points = parse_points(text, p.file.string(), context_of(o).farthest);
  } catch (const Error& e) {
    o.where().fail(e.what());
  }
  return p;
}

ViewDesc view(const json& j, const Where& where) {
  Object o(j, where.in("view"), kViewKeys);
  ViewDesc v;
  v.position = point(o, "position");
  v.look_at = point(o, "look_at");
  if (length(v.look_at - v.position) == 0) o.where().fail("\"look_at\" equals \"position\"");
  v.up = direction(o, "up", Vec3{0, 0, 1});
  if (length(cross(v.up, v.look_at - v.position)) == 0)
    o.where().fail("\"up\" is parallel to the viewing direction");
  v.fov = o.number("fov", 60.0);
  if (!(v.fov > 0 && v.fov < 180)) o.where().fail("\"fov\" must lie between 0 and 180 degrees");
  v.width = count(o, "width", 480, 8192);
  v.height = count(o, "height", 320, 8192);
  v.samples = count(o, "samples", 16, 1 << 16);
  v.exposure = o.number("exposure", 0.0);
  if (v.exposure < 0) o.where().fail("\"exposure\" must not be negative");
  o.finish();
  return v;
}

// The reason of a parser message, without the library's prefix and position.
std::string parse_reason(const std::string& what) {
  const auto at = what.find("column ");
  if (at != std::string::npos) {
    const auto colon = what.find(": ", at);
    if (colon != std::string::npos) return what.substr(colon + 2);
  }
  const auto bracket = what.find("] ");
  return bracket != std::string::npos ? what.substr(bracket + 2) : what;
}

void check_unique(const std::vector<std::string>& names, const std::string& kind,
                  const Where& where) {
  std::set<std::string> seen;
  for (const auto& n : names)
    if (!seen.insert(n).second) where.fail("two " + kind + " named " + in_quotes(n));
}

}  // namespace

std::optional<SceneUnit> scene_unit_named(const std::string& name) {
  struct Entry {
    const char* names[3];
    int code;
    double metres;
  };
  static const Entry table[] = {
      {{"metre", "meter", "m"}, 0, 1.0},
      {{"decimetre", "decimeter", "dm"}, 1, 0.1},
      {{"centimetre", "centimeter", "cm"}, 2, 0.01},
      {{"millimetre", "millimeter", "mm"}, 3, 0.001},
      {{"foot", "feet", "ft"}, 4, 0.3048},
      {{"inch", "inches", "in"}, 5, 0.0254},
  };
  for (const auto& e : table)
    for (const char* n : e.names)
      if (name == n) return SceneUnit{e.code, e.names[0], e.names[2], e.metres};
  return std::nullopt;
}

Scene parse_scene(const std::string& text, const std::string& file,
                  const std::filesystem::path& dir, const ReadOptions& options) {
  check_scene_syntax(text, file);
  json top;
  try {
    top = json::parse(text, nullptr, true, /*ignore_comments=*/true);
  } catch (const json::parse_error& e) {
    const TextPlace at = place_of(text, e.byte > 0 ? e.byte - 1 : 0);
    throw Error(file + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": " +
                parse_reason(e.what()));
  } catch (const json::exception& e) {
    throw Error(file + ": " + parse_reason(e.what()));
  }
  Scene scene;
  scene.file = file;
  scene.dir = dir;
  Context context;
  context.dir = dir;
  context.options = options;
  const Where where{scene.file, "", &context};
  Object o(top, where, kSceneKeys);
  scene.title = o.text("title", "");
  const std::string unit = o.text("scene_unit", "metre");
  const auto u = scene_unit_named(unit);
  if (!u)
    where.fail("unknown \"scene_unit\" " + in_quotes(unit) +
               " (metre, decimetre, centimetre, millimetre, foot or inch)");
  scene.unit = *u;
  context.farthest = kFarthestMetres / scene.unit.metres;
  context.smallest = kSmallestMetres / scene.unit.metres;
  context.unit = scene.unit.symbol;
  if (o.has("samples")) scene.samples = count(o, "samples", 1, 1 << 20);
  scene.accuracy = o.number("accuracy", kDefaultAccuracy);
  if (!(scene.accuracy >= kFinestAccuracy && scene.accuracy <= kCoarsestAccuracy))
    where.fail("\"accuracy\" must lie between 1e-6 and 0.1 (0.001 is 0.1 %)");

  std::vector<std::string> element_names, surface_names, profile_names;
  if (o.has("room")) {
    scene.surfaces = room(o.raw("room"), where, scene.unit);
    for (const auto& f : scene.surfaces) surface_names.push_back(f.name);
  }
  scene.interreflection =
      interreflection(o.has("interreflection") ? o.raw("interreflection") : json(), where);
  for (const char* key :
       {"profiles", "lights", "light_objects", "occluders", "surfaces", "meshes", "points"}) {
    if (!o.has(key)) continue;
    const json& items = list(top, key, where);
    o.raw(key);
    for (size_t i = 0; i < items.size(); ++i) {
      const std::string k = key;
      if (k == "profiles") {
        scene.profiles.push_back(profile(items[i], where, i));
        profile_names.push_back(scene.profiles.back().name);
      } else if (k == "lights") {
        for (auto& l : light(items[i], where, i)) {
          element_names.push_back(l.name);
          scene.lights.push_back(std::move(l));
        }
      } else if (k == "light_objects") {
        scene.object_lights.push_back(object_light(items[i], where, i));
        element_names.push_back(scene.object_lights.back().name);
      } else if (k == "occluders") {
        scene.occluders.push_back(occluder(items[i], where, i));
        element_names.push_back(scene.occluders.back().name);
      } else if (k == "meshes") {
        scene.meshes.push_back(mesh(items[i], where, scene.unit, i));
        element_names.push_back(scene.meshes.back().name);
      } else if (k == "points") {
        scene.point_lists.push_back(point_list(items[i], where, i));
        surface_names.push_back(scene.point_lists.back().name);
      } else {
        scene.surfaces.push_back(surface(items[i], where, i, scene.unit));
        surface_names.push_back(scene.surfaces.back().name);
      }
    }
  }
  if (o.has("view")) scene.view = view(o.raw("view"), where);
  if (o.has("maintenance_factor")) scene.maintenance_factor = maintenance_factor(o);
  std::vector<std::string> observer_names, cylindrical_names;
  for (size_t i = 0; i < list(top, "observers", where).size(); ++i) {
    scene.observers.push_back(observer(list(top, "observers", where)[i], where, i));
    observer_names.push_back(scene.observers.back().name);
  }
  if (o.has("observers")) o.raw("observers");
  for (size_t i = 0; i < list(top, "cylindrical", where).size(); ++i) {
    scene.cylindrical.push_back(
        cylindrical(list(top, "cylindrical", where)[i], where, i, scene.unit));
    cylindrical_names.push_back(scene.cylindrical.back().name);
  }
  if (o.has("cylindrical")) o.raw("cylindrical");
  if (o.has("ugr")) {
    scene.glare = glare(o.raw("ugr"), where, scene.unit);
  } else if (!scene.observers.empty()) {
    scene.glare = GlareDesc{false, 1.2 / scene.unit.metres, {}};
  }
  o.finish();
  check_unique(observer_names, "observers", where);
  check_unique(cylindrical_names, "cylindrical areas", where);
  // An eye inside a solid object sees nothing of the room.
  for (const auto& ob : scene.observers)
    for (const auto& oc : scene.occluders)
      if (inside_or_on(oc.solid, ob.position, 0.0))
        where.fail("observer " + in_quotes(ob.name) + ": \"position\" lies inside occluder " +
                   in_quotes(oc.name));

  check_unique(element_names, "lights, light objects, occluders or meshes", where);
  check_unique(surface_names, "surfaces or point lists", where);
  check_unique(profile_names, "profiles", where);
  if (scene.lights.empty() && scene.object_lights.empty()) where.fail("the scene has no lights");
  if (scene.surfaces.empty() && scene.point_lists.empty() && !scene.view &&
      scene.cylindrical.empty() && !scene.glare)
    where.fail("the scene has no surfaces, no point lists and no view");
  return scene;
}

Scene load_scene(const std::filesystem::path& path, const ReadOptions& options) {
  if (path == kStandardInput) {
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    if (ec)
      throw Error("standard input: the current folder, which anchors the scene's files, is gone: " +
                  ec.message());
    return parse_scene(read_bounded(std::cin, "standard input", "the scene"), "standard input",
                       here, options);
  }
  const std::string file = path.string();
  return parse_scene(read_input_file(path, "the scene file"), file, path.parent_path(), options);
}

uint64_t light_read_bytes(const LightDesc& light) {
  // Each shader field: its key, its value and its place in the ordered
  // object, copied into every light of an array.
  constexpr uint64_t kBytesPerShaderField = 200;
  // The list of lights grows by doubling while the scene is read: at its
  // peak a light's description is there about one and a half times.
  return sizeof(LightDesc) * 3 / 2 + light.name.size() + 32 +
         light.shader.fields.size() * kBytesPerShaderField;
}

std::string light_kind(const LightDesc& l) {
  // A spot whose intensity is stated as the illuminance at its focus finds
  // that distance by probing the scene from where it hangs: it is a kind of
  // its own.
  const auto& f = l.shader.fields;
  if (f.contains("intensity_unit") && f.at("intensity_unit") == 3) return "";
  char numbers[512];
  const Vec3 spot = l.spot_direction.value_or(Vec3{});
  std::snprintf(numbers, sizeof numbers,
                "%d %d %a %a %a %a %a %a %a %a %a %a %a %a %a %a %d %d %a %a", l.spot ? 1 : 0,
                static_cast<int>(l.shape), l.width, l.height, l.radius, l.length, l.aim.x, l.aim.y,
                l.aim.z, l.spin, l.decay, spot.x, spot.y, spot.z, l.cone_angle, l.flux.value_or(-1),
                l.spot_direction ? 1 : 0, l.samples, l.maintenance_factor.value_or(-1), 0.0);
  return std::string(numbers) + " " + f.dump();
}

bool inside_or_on(const SolidDesc& s, Vec3 p, double tol) {
  switch (s.kind) {
    case SolidDesc::Rectangle:
    case SolidDesc::Disc:
      // Sheets enclose nothing: a floor or a rug modelled as a sheet lies
      // under the grid, it does not cover it.
      return false;
    case SolidDesc::Sphere:
      return length(p - s.center) <= s.radius + tol;
    case SolidDesc::Box:
      return p.x >= s.min.x - tol && p.x <= s.max.x + tol && p.y >= s.min.y - tol &&
             p.y <= s.max.y + tol && p.z >= s.min.z - tol && p.z <= s.max.z + tol;
  }
  return false;
}

}  // namespace lux
