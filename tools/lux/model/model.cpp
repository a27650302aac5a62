// Building the scene in the reference host, as any host would: scene
// elements through the host's database, every shader through the plug-in's
// exported entry points and its parameter record.
#include "tools/lux/model/model.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <set>

#include "refhost/profiles.h"
#include "shaders/constants.h"
#include "tools/lux/model/photometry_light.h"

namespace lux {

namespace {

using json = nlohmann::ordered_json;

std::string in_quotes(const std::string& s) { return "\"" + s + "\""; }

// Messages the host recorded since `from`, as texts.
std::vector<std::string> messages_since(size_t from) {
  std::vector<std::string> out;
  const auto all = refhost::messages();
  for (size_t i = from; i < all.size(); ++i)
    out.push_back((all[i].kind == refhost::MessageKind::Error ? "error: " : "") + all[i].text);
  return out;
}

std::string type_word(const std::string& type) {
  if (type == "boolean") return "true or false";
  if (type == "integer") return "a whole number";
  if (type == "scalar") return "a number";
  if (type == "color") return "a colour [r, g, b] or [r, g, b, a]";
  if (type == "vector") return "a vector [x, y, z]";
  if (type == "string") return "a string";
  if (type == "lightprofile") return "the name of a profile of the scene";
  return "a value of type " + type;
}

// Writes scene-file values into a shader instance's parameter record, by the
// field types its declaration gives.
class FieldWriter {
 public:
  FieldWriter(refhost::ShaderInstance& shader, std::string shader_name, std::string where)
      : shader_(shader), shader_name_(std::move(shader_name)), where_(std::move(where)) {}

  // Fields the calculator sets itself; the scene may not set them.
  void reserve(const std::string& field, const std::string& why) { reserved_[field] = why; }

  void set(const std::string& field, const json& value,
           const std::vector<std::pair<std::string, int>>& profiles) {
    if (auto r = reserved_.find(field); r != reserved_.end())
      fail("shader field " + in_quotes(field) + " cannot be set here: " + r->second);
    const refhost::ParamField* f = shader_.decl().field(field);
    if (f == nullptr)
      fail("unknown shader field " + in_quotes(field) + " (not a parameter of " + shader_name_ +
           ")");
    const auto wrong = [&] {
      fail("shader field " + in_quotes(field) + " takes " + type_word(f->type) + ", not " +
           value.dump());
    };
    if (f->type == "boolean") {
      if (value.is_boolean()) {
        shader_.set_int(field, value.get<bool>() ? 1 : 0);
      } else if (value.is_number_integer() && (value == 0 || value == 1)) {
        shader_.set_int(field, value.get<int>());
      } else {
        wrong();
      }
    } else if (f->type == "integer") {
      if (!value.is_number_integer()) wrong();
      // An unsigned value beyond the signed range would wrap when read as signed.
      if (value.is_number_unsigned() &&
          value.get<uint64_t>() > uint64_t(std::numeric_limits<int32_t>::max()))
        out_of_range(field, "a whole number from -2147483648 to 2147483647");
      const auto v = value.get<int64_t>();
      if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        out_of_range(field, "a whole number from -2147483648 to 2147483647");
      shader_.set_int(field, static_cast<int32_t>(v));
    } else if (f->type == "scalar") {
      if (!value.is_number()) wrong();
      shader_.set_float(field, single(field, value));
    } else if (f->type == "color") {
      if (!value.is_array() || value.size() < 3 || value.size() > 4) wrong();
      for (const auto& c : value)
        if (!c.is_number()) wrong();
      shader_.set_color(field,
                        {single(field, value[0]), single(field, value[1]), single(field, value[2]),
                         value.size() == 4 ? single(field, value[3]) : 1.0f});
    } else if (f->type == "vector") {
      if (!value.is_array() || value.size() != 3) wrong();
      for (const auto& c : value)
        if (!c.is_number()) wrong();
      const miVector v{single(field, value[0]), single(field, value[1]), single(field, value[2])};
      std::memcpy(static_cast<unsigned char*>(shader_.params()) + f->offset, &v, sizeof v);
    } else if (f->type == "string") {
      if (!value.is_string()) wrong();
      shader_.set_string(field, value.get<std::string>());
    } else if (f->type == "lightprofile") {
      if (!value.is_string()) wrong();
      const std::string name = value.get<std::string>();
      bool known = false;
      for (const auto& p : profiles) known = known || p.first == name;
      if (!known)
        fail("shader field " + in_quotes(field) + ": no profile named " + in_quotes(name));
      shader_.set_tag(field, refhost::find("zel_lightprofile::" + name));
    } else {
      fail("shader field " + in_quotes(field) + " (" + f->type + ") cannot be set in a scene file");
    }
  }

  void set_all(const ShaderFields& fields,
               const std::vector<std::pair<std::string, int>>& profiles) {
    for (const auto& [field, value] : fields.fields.items()) set(field, value, profiles);
  }

  // A default of the calculator, for a field the declaration has.
  void preset_int(const std::string& field, int32_t v) {
    if (shader_.decl().field(field) != nullptr) shader_.set_int(field, v);
  }
  void preset_float(const std::string& field, float v) {
    if (shader_.decl().field(field) != nullptr) shader_.set_float(field, v);
  }
  void preset_color(const std::string& field, miColor v) {
    if (shader_.decl().field(field) != nullptr) shader_.set_color(field, v);
  }

  [[noreturn]] void fail(const std::string& text) const { throw Error(where_ + ": " + text); }

 private:
  [[noreturn]] void out_of_range(const std::string& field, const std::string& range) const {
    fail("shader field " + in_quotes(field) + " must be " + range);
  }
  // A number as the shaders take it, in single precision: a value beyond
  // its range would become infinite (and a light of infinite colour reads
  // as dark), so it is refused.
  float single(const std::string& field, const json& value) const {
    const double v = value.get<double>();
    if (!(std::fabs(v) <= double(std::numeric_limits<float>::max())))
      out_of_range(field,
                   "a number of at most 3.4e38 in size (single precision), not " + value.dump());
    return static_cast<float>(v);
  }

  refhost::ShaderInstance& shader_;
  std::string shader_name_;
  std::string where_;
  std::map<std::string, std::string> reserved_;
};

// A value of a field as the scene wrote it, if it did.
const json* written(const ShaderFields& fields, const std::string& field) {
  return fields.fields.contains(field) ? &fields.fields.at(field) : nullptr;
}
double number_or(const ShaderFields& fields, const std::string& field, double fallback) {
  const json* v = written(fields, field);
  return v != nullptr && v->is_number() ? v->get<double>() : fallback;
}
int whole_or(const ShaderFields& fields, const std::string& field, int fallback) {
  const json* v = written(fields, field);
  if (v == nullptr || !v->is_number_integer()) return fallback;
  if (v->is_number_unsigned())
    return v->get<uint64_t>() <= uint64_t(std::numeric_limits<int>::max())
               ? static_cast<int>(v->get<uint64_t>())
               : fallback;
  const auto w = v->get<int64_t>();
  return w >= std::numeric_limits<int>::min() && w <= std::numeric_limits<int>::max()
             ? static_cast<int>(w)
             : fallback;
}
bool flag_or(const ShaderFields& fields, const std::string& field, bool fallback) {
  const json* v = written(fields, field);
  if (v == nullptr) return fallback;
  return v->is_boolean() ? v->get<bool>() : (v->is_number() && v->get<double>() != 0);
}

// The scene's profile a light's fields name when it follows one.
const ProfileDesc* followed_profile(const ShaderFields& fields, const Scene& scene) {
  if (!flag_or(fields, "use_profile", false)) return nullptr;
  for (const char* key : {"profile", "profile_name"}) {
    const json* name = written(fields, key);
    if (name == nullptr || !name->is_string()) continue;
    for (const auto& p : scene.profiles)
      if (p.name == name->get<std::string>()) return &p;
  }
  return nullptr;
}

// The calculator's defaults for the area light: white, photometric output
// with an output scale of 1 (so that the numbers are lux), shadows on.
void area_light_defaults(FieldWriter& w, const Scene& scene, const ShaderFields& fields,
                         double cone_angle) {
  w.preset_color("color", {1, 1, 1, 1});
  w.preset_float("relative_intensity", 1);
  w.preset_float("intensity_multiplier", 1);
  w.preset_float("photon_multiplier", 1);
  w.preset_int("scene_unit", scene.unit.code);
  w.preset_int("shadows", 1);
  w.preset_float("shadow_transparency", 0);
  w.preset_float("cosine_exponent", 1);
  w.preset_float("visible_multiplier", 1);
  w.preset_int("output_scale_mode", 3);
  w.preset_color("output_scale_color", {1, 1, 1, 1});
  w.preset_float("intensity", 1);
  w.preset_float("efficacy", 683);
  w.preset_float("profile_efficacy", 683);
  w.preset_float("visible_falloff_exponent", 1);
  // A spot's full-intensity cone is the whole cone unless the scene says.
  w.preset_float("falloff_angle", static_cast<float>(cone_angle));
  // A luminaire's IES file states its candela for the file's lamps: the
  // light takes them as they stand unless the scene asks for relative use.
  if (const ProfileDesc* p = followed_profile(fields, scene); p != nullptr && p->format == 1)
    w.preset_int("absolute_intensity", 1);
  if (const json* unit = written(fields, "scene_unit");
      unit != nullptr && !(unit->is_number_integer() && unit->get<int>() == scene.unit.code))
    w.fail("shader field \"scene_unit\" must agree with the scene's \"scene_unit\" (" +
           scene.unit.name + ", code " + std::to_string(scene.unit.code) +
           "); set the unit once, at the top of the scene file");
}

// A light that takes its intensities from a profile must name one the scene
// defines: without it the light would be dark, and the numbers wrong.
void require_profile(const FieldWriter& w, const ShaderFields& fields,
                     const std::vector<std::pair<std::string, int>>& profiles) {
  if (!flag_or(fields, "use_profile", false) || written(fields, "profile") != nullptr) return;
  const json* name = written(fields, "profile_name");
  if (name == nullptr || !name->is_string())
    w.fail("\"use_profile\" is on but no \"profile_name\" names the profile");
  std::string known;
  for (const auto& p : profiles) {
    if (p.first == name->get<std::string>()) return;
    known += (known.empty() ? "" : ", ") + in_quotes(p.first);
  }
  w.fail("profile " + in_quotes(name->get<std::string>()) +
         " is not among the scene's \"profiles\"" +
         (known.empty() ? std::string(" (it has none)") : " (" + known + ")"));
}

// Flux stated by the parameters, and why the numbers may not be lux.
void read_light_statement(Light& light, const ShaderFields& fields,
                          const std::vector<std::pair<std::string, int>>& profiles) {
  const bool use_profile = flag_or(fields, "use_profile", false);
  const int unit = whole_or(fields, "intensity_unit", 0);
  const double value = number_or(fields, "intensity", 1);
  if (!use_profile && unit == 1) light.stated_flux = value;
  if (!use_profile && unit == 4) light.stated_flux = value * number_or(fields, "efficacy", 683);
  if (use_profile) {
    bool eulumdat = false;
    if (const json* n = written(fields, "profile_name"); n != nullptr && n->is_string())
      for (const auto& p : profiles) eulumdat = eulumdat || (p.first == *n && p.second == 2);
    if (!flag_or(fields, "absolute_intensity", true) || eulumdat) {
      light.caveats.push_back(
          "relative intensity mode (a profile without absolute intensity): the numbers are "
          "relative, not lux");
      light.relative = true;
    }
  }
  const int mode = whole_or(fields, "output_scale_mode", 3);
  bool unit_scale = mode == 3;
  if (const json* c = written(fields, "output_scale_color"); c != nullptr && c->is_array())
    for (size_t i = 0; i < 3 && i < c->size(); ++i)
      unit_scale = unit_scale && (*c)[i].is_number() && (*c)[i].get<double>() == 1.0;
  if (!unit_scale)
    light.caveats.push_back("the output scale is not 1: the numbers are lux times that scale");
}

// The input power of a light: its file's, or its output when stated in
// watt. A light scaled to a stated flux draws power in proportion, as the
// same luminaire in another lumen package does at the same efficacy.
void set_power(Light& light, const ShaderFields& fields) {
  constexpr int kWattUnit = 4;
  if (light.luminaire) {
    light.power = light.luminaire->watts;
  } else if (!flag_or(fields, "use_profile", false) &&
             whole_or(fields, "intensity_unit", 0) == kWattUnit) {
    light.power = number_or(fields, "intensity", 1);
  }
  if (!light.power || !light.photometry.contains("flux")) return;
  const double factor = light.photometry["flux"]["factor"].get<double>();
  char text[160];
  std::snprintf(text, sizeof text, "input power scaled with the flux: %.1f W x %.4g = %.1f W",
                *light.power, factor, *light.power * factor);
  light.notes.push_back(text);
  light.power = *light.power * factor;
}

}  // namespace

LightDesc with_opening(const LightDesc& desc, const LuminousOpening& opening, const SceneUnit& unit,
                       std::string& note) {
  using Kind = LuminousOpening::Kind;
  LightDesc d = desc;
  const double k = 1.0 / unit.metres;  // scene units per metre
  const std::string from = "luminous opening from the file: " + opening.description;
  switch (opening.kind) {
    case Kind::Point:
      note.clear();
      return d;
    case Kind::Rectangle:
    case Kind::Box:
      d.shape = Shape::Rectangle;
      d.width = opening.length * k;
      d.height = opening.width * k;
      note = from + (opening.kind == Kind::Box ? " (emitting from its bottom only)" : "");
      return d;
    case Kind::Circle:
    case Kind::Ellipse:
      d.shape = Shape::Disc;
      d.radius = 0.5 * std::sqrt(opening.length * opening.width) * k;
      note = from + (opening.kind == Kind::Ellipse ? " (as the disc of its area)" : "");
      return d;
    case Kind::VerticalCylinder:
      d.shape = Shape::Cylinder;
      d.radius = 0.5 * opening.length * k;
      d.length = opening.height * k;
      note = from;
      return d;
    case Kind::Sphere:
      d.shape = Shape::Sphere;
      d.radius = 0.5 * opening.length * k;
      note = from;
      return d;
    case Kind::Other:
      break;
  }
  note = from + " (no light takes that shape: a point)";
  return d;
}

Frame light_frame(Vec3 position, Vec3 aim, double spin_degrees) {
  Frame f;
  f.ez = -normalize(aim);
  const Vec3 ref = std::fabs(f.ez.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  f.ex = normalize(ref - f.ez * dot(ref, f.ez));
  f.ey = cross(f.ez, f.ex);
  const double s = spin_degrees * zel::kDegToRad;
  const Vec3 ex = f.ex * std::cos(s) + f.ey * std::sin(s);
  const Vec3 ey = f.ey * std::cos(s) - f.ex * std::sin(s);
  f.ex = ex;
  f.ey = ey;
  f.origin = position;
  return f;
}

refhost::Matrix to_matrix(const Frame& f) {
  refhost::Matrix m = refhost::identity();
  const Vec3 rows[4] = {f.ex, f.ey, f.ez, f.origin};
  for (int r = 0; r < 4; ++r) {
    m.m[r * 4 + 0] = static_cast<float>(rows[r].x);
    m.m[r * 4 + 1] = static_cast<float>(rows[r].y);
    m.m[r * 4 + 2] = static_cast<float>(rows[r].z);
  }
  return m;
}

refhost::Geometry to_geometry(const SolidDesc& s) {
  refhost::Geometry g;
  switch (s.kind) {
    case SolidDesc::Rectangle:
      g.kind = refhost::Geometry::Rectangle;
      g.center = to_mi(s.corner + s.u * 0.5 + s.v * 0.5);
      g.u = to_mi(s.u * 0.5);
      g.v = to_mi(s.v * 0.5);
      g.normal = to_mi(normalize(cross(s.u, s.v)));
      break;
    case SolidDesc::Disc:
      g.kind = refhost::Geometry::Disc;
      g.center = to_mi(s.center);
      g.normal = to_mi(s.normal);
      g.radius = static_cast<float>(s.radius);
      break;
    case SolidDesc::Sphere:
      g.kind = refhost::Geometry::Sphere;
      g.center = to_mi(s.center);
      g.radius = static_cast<float>(s.radius);
      break;
    case SolidDesc::Box:
      g.kind = refhost::Geometry::Box;
      g.min = to_mi(s.min);
      g.max = to_mi(s.max);
      g.center = to_mi((s.min + s.max) * 0.5);
      break;
  }
  return g;
}

Model::Model(refhost::Plugin& plugin, const Scene& scene) : plugin_(plugin), scene_(scene) {
  try {
    for (const auto& p : scene.profiles) define_profile(p);
    for (const auto& l : scene.lights) add_light(l);
    for (const auto& o : scene.occluders) add_occluder(o);
    for (const auto& s : scene.surfaces) add_reflecting_surface(s);
    for (const auto& m : scene.meshes) add_mesh(m);
    for (const auto& l : scene.object_lights) add_object_light(l);
  } catch (const Error&) {
    throw;
  } catch (const std::exception& e) {
    throw Error(scene.file + ": " + e.what());
  }
}

Model::~Model() {
  for (auto& l : lights_)
    if (l.shader) l.shader->exit();
  for (auto& h : helpers_) h->exit();
}

void Model::define_profile(const ProfileDesc& p) {
  const std::string where = scene_.file + ": profile " + in_quotes(p.name);
  refhost::ProfileTable table;
  std::string problem;
  if (!refhost::read_profile_file(p.file.string(), p.format, table, problem))
    throw Error(where + ": " + problem);

  auto shader = std::make_unique<refhost::ShaderInstance>(plugin_, "zel_lightprofile");
  FieldWriter w(*shader, "zel_lightprofile", where);
  w.reserve("file_name", "the calculator sets it from \"file\"");
  w.reserve("profile_name", "the calculator sets it from \"name\"");
  w.reserve("format", "the calculator sets it from \"format\"");
  shader->set_string("file_name", p.file.string());
  shader->set_string("profile_name", p.name);
  shader->set_int("format", p.format);
  w.set_all(p.shader, profiles_);

  refhost::ThreadContext thread(0, 1);
  miState state = refhost::make_state(shader.get(), &thread, miRAY_EYE);
  shader->init(&state);
  // The profile shader returns to the scope it was called in, so it runs
  // inside one of ours.
  mi_api_scope_begin(mi_mem_int_strdup(__FILE__, __LINE__, "lux"));
  miColor unused{};
  shader->call(&unused, &state);
  mi_api_scope_end();
  helpers_.push_back(std::move(shader));

  const std::string composed = "zel_lightprofile::" + p.name;
  const miTag tag =
      mi_api_lightprofile_lookup(mi_mem_int_strdup(__FILE__, __LINE__, composed.c_str()));
  if (tag == 0 || refhost::profile_table(tag) == nullptr)
    throw Error(where + ": the profile shader did not define " + in_quotes(composed));
  profiles_.emplace_back(p.name, p.format);
  // The header's account of the luminaire; the host has read the table, so
  // the file is well formed.
  profile_luminaires_.emplace_back(p.name, read_photometric_file(p.file, p.format).luminaire);
}

void Model::init_light(Light& light) {
  const size_t before = refhost::messages().size();
  refhost::ThreadContext thread(0, 1);
  miState state =
      refhost::make_state(light.shader.get(), &thread, miRAY_LIGHT, light.scene.instance);
  light.shader->init(&state);
  light.scene.shader = light.shader.get();
  light.messages = messages_since(before);
}

void Model::add_light(const LightDesc& desc) {
  const std::string where = scene_.file + ": light " + in_quotes(desc.name);
  Light light;
  light.name = desc.name;
  if (const ProfileDesc* p = followed_profile(desc.shader, scene_))
    for (const auto& [name, data] : profile_luminaires_)
      if (name == p->name) light.luminaire = data;
  const LightDesc d =
      light.luminaire && !desc.shape_given
          ? with_opening(desc, light.luminaire->opening, scene_.unit, light.opening_note)
          : desc;
  if (!light.opening_note.empty()) light.notes.push_back(light.opening_note);
  light.kind = light_kind(d);
  light.samples = d.samples > 0 ? d.samples : scene_.samples;
  light.maintenance_factor = d.maintenance_factor.value_or(scene_.maintenance_factor);
  light.accuracy = scene_.accuracy;
  light.opening_reflectance = d.opening_reflectance;
  const Frame frame = light_frame(d.position, d.aim, d.spin);

  refhost::LightDesc host;
  host.type = d.spot ? miLIGHT_SPOT : miLIGHT_POINT;
  host.origin = {0, 0, 0};
  host.exponent = static_cast<float>(d.decay);
  // Light space faces −z: the emitter's front, the spot axis by default and
  // a profile's nadir all look along the aim.
  host.direction =
      to_mi(d.spot_direction ? frame.vector_to_local(*d.spot_direction) : Vec3{0, 0, -1});
  host.spread = d.spot ? static_cast<float>(std::cos(0.5 * d.cone_angle * zel::kDegToRad)) : -1.0f;
  Emitter& e = light.emitter;
  e.frame = frame;
  switch (d.shape) {
    case Shape::Point:
      host.shape = miLIGHT_NONE;
      light.shape = "point";
      break;
    case Shape::Rectangle:
      // Half-extent edges; the second runs along −y so that u × v faces −z.
      host.shape = miLIGHT_RECTANGLE;
      host.edge_u = to_mi({0.5 * d.width, 0, 0});
      host.edge_v = to_mi({0, -0.5 * d.height, 0});
      e.kind = Emitter::Rectangle;
      e.half_u = 0.5 * d.width;
      e.half_v = 0.5 * d.height;
      light.shape = "rectangle";
      break;
    case Shape::Disc:
      host.shape = miLIGHT_DISC;
      host.normal = {0, 0, -1};
      host.radius = static_cast<float>(d.radius);
      e.kind = Emitter::Disc;
      e.radius = d.radius;
      light.shape = "disc";
      break;
    case Shape::Sphere:
      host.shape = miLIGHT_SPHERE;
      host.radius = static_cast<float>(d.radius);
      e.kind = Emitter::Sphere;
      e.radius = d.radius;
      light.shape = "sphere";
      break;
    case Shape::Cylinder:
      host.shape = miLIGHT_CYLINDER;
      host.axis = to_mi({0, 0, 0.5 * d.length});
      host.radius = static_cast<float>(d.radius);
      e.kind = Emitter::Cylinder;
      e.radius = d.radius;
      e.half_length = 0.5 * d.length;
      light.shape = "cylinder";
      break;
  }
  const miTag light_tag = refhost::add_light(d.name, host);
  light.scene.instance = refhost::add_instance(d.name + "::inst", light_tag, to_matrix(frame));

  light.shader = std::make_unique<refhost::ShaderInstance>(plugin_, "zel_lumenfield");
  FieldWriter w(*light.shader, "zel_lumenfield", where);
  area_light_defaults(w, scene_, d.shader, d.cone_angle);
  w.set_all(d.shader, profiles_);
  require_profile(w, d.shader, profiles_);
  read_light_statement(light, d.shader, profiles_);
  use_file_photometry(light, d, scene_, light_tag);
  init_light(light);
  scale_to_flux(light, d, scene_, light_tag, &flux_of_kind_);
  set_power(light, d.shader);
  lights_.push_back(std::move(light));
}

void Model::add_occluder(const OccluderDesc& d) {
  refhost::Geometry g = to_geometry(d.solid);
  g.transparency = d.transparency;
  const miTag object = refhost::add_object(d.name, g);
  occluder_instances_.push_back(
      refhost::add_instance(d.name + "::inst", object, refhost::identity()));
}

// A reflecting surface is a real one: it is traced, so it casts shadows.
// A calculation surface is not: light passes through it. A polygon surface
// is traced over its outline only, as triangles of its convex pieces.
void Model::add_reflecting_surface(const SurfaceDesc& d) {
  if (d.role != SurfaceRole::Reflecting) {
    surface_instances_.push_back(0);
    return;
  }
  if (!d.outline.empty()) {
    std::vector<float> vertices;
    std::vector<uint32_t> triangles;
    for (const auto& piece : convex_pieces(d.outline, d.corner, d.u, d.v)) {
      const auto first = static_cast<uint32_t>(vertices.size() / 3);
      for (const Vec3& p : piece)
        vertices.insert(vertices.end(), {float(p.x), float(p.y), float(p.z)});
      for (uint32_t k = 1; k + 1 < piece.size(); ++k)
        triangles.insert(triangles.end(), {first, first + k, first + k + 1});
    }
    const std::string name = "surface::" + d.name;
    miTag object = 0;
    try {
      object = refhost::add_mesh(name, std::move(vertices), std::move(triangles));
    } catch (const std::exception& e) {
      throw Error(scene_.file + ": surface " + in_quotes(d.name) +
                  ": its polygon cannot be traced as a reflecting surface (" + e.what() + ")");
    }
    surface_instances_.push_back(
        refhost::add_instance(name + "::inst", object, refhost::identity()));
    return;
  }
  SolidDesc rectangle;
  rectangle.corner = d.corner;
  rectangle.u = d.u;
  rectangle.v = d.v;
  const std::string name = "surface::" + d.name;
  const miTag object = refhost::add_object(name, to_geometry(rectangle));
  surface_instances_.push_back(refhost::add_instance(name + "::inst", object, refhost::identity()));
}

void Model::add_mesh(const MeshDesc& d) {
  std::vector<float> vertices;
  vertices.reserve(d.mesh.vertices.size() * 3);
  for (const Vec3& p : d.mesh.vertices)
    vertices.insert(vertices.end(), {float(p.x), float(p.y), float(p.z)});
  std::vector<uint32_t> triangles;
  triangles.reserve(d.mesh.triangles.size() * 3);
  for (const auto& t : d.mesh.triangles) triangles.insert(triangles.end(), t.begin(), t.end());
  miTag object = 0;
  try {
    object = refhost::add_mesh(d.name, std::move(vertices), std::move(triangles), d.transparency);
  } catch (const std::exception& e) {
    throw Error(scene_.file + ": mesh " + in_quotes(d.name) + ": cannot be traced (" + e.what() +
                ")");
  }
  mesh_instances_.push_back(refhost::add_instance(d.name + "::inst", object, refhost::identity()));
  meshes_.push_back(refhost::object_geometry(object)->mesh);
}

void Model::add_object_light(const ObjectLightDesc& d) {
  const std::string where = scene_.file + ": light object " + in_quotes(d.name);
  Light light;
  light.name = d.name;
  light.shape = "object";
  light.samples = d.samples > 0 ? d.samples : scene_.samples;
  light.maintenance_factor = d.maintenance_factor.value_or(scene_.maintenance_factor);
  light.accuracy = scene_.accuracy;
  light.opening_reflectance = d.opening_reflectance;
  light.emitter.kind = Emitter::Solid;
  light.emitter.solid = d.solid;

  // The emitting object does not shadow its own light.
  refhost::Geometry g = to_geometry(d.solid);
  g.casts_shadow = false;
  const miTag object = refhost::add_object(d.name + "::object", g);
  const std::string source = d.name + "::source";
  refhost::add_instance(source, object, refhost::identity());
  // The element that stands for the light's shader; its name is the base
  // name of what the light object shader defines.
  const miTag function = refhost::db_add(miSCENE_FUNCTION, 16, d.name);
  refhost::set_base_name_tag(function);

  auto generator = std::make_unique<refhost::ShaderInstance>(plugin_, "zel_light_object");
  FieldWriter w(*generator, "zel_light_object", where);
  for (const char* f : {"source", "light_shader", "photon_shader"})
    w.reserve(f, "the calculator connects the object and the area light itself");
  generator->set_string("source", source);
  generator->set_tag("light_shader", function);
  generator->set_tag("photon_shader", function);
  w.preset_color("color", {1, 1, 1, 1});
  w.preset_float("color_scale", 1);
  // The light record's decay exponent and its visibility to camera rays.
  w.preset_float("fourth_value", static_cast<float>(d.decay));
  w.preset_int("third_value", 1);
  w.set_all(d.object_shader, profiles_);

  const size_t before = refhost::messages().size();
  const size_t made = refhost::geoshader_results().size();
  refhost::ThreadContext thread(0, 1);
  miState state = refhost::make_state(generator.get(), &thread, miRAY_EYE);
  generator->init(&state);
  generator->call(nullptr, &state);
  helpers_.push_back(std::move(generator));
  const auto generator_messages = messages_since(before);
  const auto results = refhost::geoshader_results();
  if (results.size() == made) {
    std::string why;
    for (const auto& m : generator_messages) why += (why.empty() ? "" : "; ") + m;
    throw Error(where + ": the light object shader made no light" +
                (why.empty() ? std::string() : " (" + why + ")"));
  }
  light.scene.instance = results.back();

  light.shader = std::make_unique<refhost::ShaderInstance>(plugin_, "zel_lumenfield");
  FieldWriter a(*light.shader, "zel_lumenfield", where);
  area_light_defaults(a, scene_, d.shader, 0);
  a.set_all(d.shader, profiles_);
  require_profile(a, d.shader, profiles_);
  read_light_statement(light, d.shader, profiles_);
  const miTag light_tag = light_of_instance(light.scene.instance);
  if (const ProfileDesc* p = followed_profile(d.shader, scene_))
    for (const auto& [name, data] : profile_luminaires_)
      if (name == p->name) light.luminaire = data;
  use_file_photometry(light, photometry_entry(d), scene_, light_tag);
  init_light(light);
  scale_to_flux(light, photometry_entry(d), scene_, light_tag);
  set_power(light, d.shader);
  light.messages.insert(light.messages.begin(), generator_messages.begin(),
                        generator_messages.end());
  lights_.push_back(std::move(light));
}

}  // namespace lux
