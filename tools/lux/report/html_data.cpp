// The data of the interactive report: the scene's geometry and the run's
// results as the page draws them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "tools/lux/grid/grids.h"
#include "tools/lux/report/html.h"
#include "tools/lux/report/picture.h"
#include "tools/lux/transport/radiosity.h"

namespace lux {

using ojson = nlohmann::ordered_json;

double significant(double v, int digits) {
  if (v == 0 || !std::isfinite(v)) return v == 0 ? 0.0 : v;
  // Scaled by an exact power of ten on whichever side of the point the
  // digits end, so that the result is the double nearest the decimal.
  const int exponent = digits - 1 - static_cast<int>(std::floor(std::log10(std::fabs(v))));
  if (exponent >= 0) {
    const double p = std::pow(10.0, exponent);
    if (!std::isfinite(p)) return v;  // a subnormal number: no digits to drop
    return std::round(v * p) / p + 0.0;
  }
  const double p = std::pow(10.0, -exponent);
  return std::round(v / p) * p + 0.0;
}

double quantised(double v, double quantum) {
  if (!(quantum > 0) || !std::isfinite(v)) return v;
  if (quantum < 1) {
    const double per_unit = std::round(1.0 / quantum);
    return std::round(v * per_unit) / per_unit + 0.0;
  }
  return std::round(v / quantum) * quantum + 0.0;
}

double length_quantum(double extent) {
  const double finest =
      (extent > 0 && std::isfinite(extent) ? extent : 1.0) * kPageLengthResolution;
  return std::pow(10.0, std::floor(std::log10(finest)));
}

ojson ramp_table(int n) {
  ojson table = ojson::array();
  for (int k = 0; k < n; ++k) {
    const auto c = ramp(n > 1 ? double(k) / (n - 1) : 0.0);
    table.push_back({quantised(c[0], 1e-5), quantised(c[1], 1e-5), quantised(c[2], 1e-5)});
  }
  return table;
}

namespace {

// Lengths of the page: in the output unit, rounded to the scene's quantum.
struct Lengths {
  const OutputUnits& units;
  double quantum;
  double operator()(double scene_length) const {
    return quantised(units.length_of(scene_length), quantum);
  }
  ojson operator()(Vec3 p) const { return {(*this)(p.x), (*this)(p.y), (*this)(p.z)}; }
};

ojson direction_json(Vec3 d) {
  const Vec3 n = normalize(d);
  return {quantised(n.x, 1e-6), quantised(n.y, 1e-6), quantised(n.z, 1e-6)};
}

// The box around everything the page draws, in scene units.
struct Bounds {
  Vec3 lo{std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
          std::numeric_limits<double>::max()};
  Vec3 hi{-std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
          -std::numeric_limits<double>::max()};
  void add(Vec3 p) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  void add(Vec3 centre, double radius) {
    add(centre - Vec3{radius, radius, radius});
    add(centre + Vec3{radius, radius, radius});
  }
  bool empty() const { return lo.x > hi.x; }
};

Bounds scene_bounds(const Model& model) {
  const Scene& scene = model.scene();
  Bounds b;
  for (const auto& s : scene.surfaces)
    for (const Vec3 p : {s.corner, s.corner + s.u, s.corner + s.v, s.corner + s.u + s.v}) b.add(p);
  for (const auto& o : scene.occluders) {
    const SolidDesc& d = o.solid;
    if (d.kind == SolidDesc::Box) {
      b.add(d.min);
      b.add(d.max);
    } else if (d.kind == SolidDesc::Rectangle) {
      b.add(d.corner);
      b.add(d.corner + d.u + d.v);
    } else {
      b.add(d.center, d.radius);
    }
  }
  for (const auto& m : scene.meshes)
    for (const Vec3 p : m.mesh.vertices) b.add(p);
  for (const auto& l : model.lights()) b.add(l.emitter.frame.origin);
  for (const auto& list : scene.point_lists)
    for (const auto& p : list.points) b.add(p.position);
  for (const auto& o : scene.observers) b.add(o.position);
  if (b.empty()) b.add(Vec3{});
  return b;
}

ojson scale_json(const ColourScale& s) {
  ojson levels = ojson::array();
  for (double l : s.levels) levels.push_back(significant(l, 12));
  return {{"lo", significant(s.lo, 12)},
          {"hi", significant(s.hi, 12)},
          {"step", significant(s.step, 12)},
          {"levels", levels}};
}

ojson stats_json(const Stats& s, const OutputUnits& u) {
  return {{"min", significant(u.illuminance_of(s.min), 6)},
          {"avg", significant(u.illuminance_of(s.avg), 6)},
          {"max", significant(u.illuminance_of(s.max), 6)},
          {"u0", significant(s.u0, 6)},
          {"ud", significant(s.min_over_max, 6)},
          {"counted", s.counted},
          {"masked", s.masked}};
}

// The quantities a run has: the total always; its direct and interreflected
// parts when there was interreflection (otherwise the total is all direct).
std::vector<std::string> quantities_of(const RunInfo& info) {
  if (info.interreflection == nullptr) return {"total"};
  return {"total", "direct", "interreflected"};
}

const std::vector<double>& values_of(const SurfaceResult& r, const std::string& quantity) {
  if (quantity == "direct") return r.direct.empty() ? r.lux : r.direct;
  if (quantity == "interreflected") return r.interreflected.empty() ? r.lux : r.interreflected;
  return r.lux;
}

Stats stats_for(const SurfaceResult& r, const std::string& quantity) {
  if (quantity == "total") return r.stats;
  if (quantity == "direct") return r.direct_stats;
  return r.grid.state.empty() ? stats_of(values_of(r, quantity))
                              : stats_of(values_of(r, quantity), r.grid.state);
}

// Values of a lattice as the maps draw them: masked points and points off a
// polygon's outline take their neighbours' values so that interpolation is
// not pulled towards 0, then in the output unit and rounded.
ojson display_values(const SurfaceResult& r, const std::vector<double>& values,
                     const OutputUnits& u) {
  std::vector<double> shown = values;
  if (!r.grid.is_point_list()) {
    shown = filled_for_display(values, r.grid.state, r.grid.nu, r.grid.nv);
    shown = filled_outside(r.grid.nu, r.grid.nv, r.grid.inside, std::move(shown));
  }
  ojson out = ojson::array();
  for (const double v : shown) out.push_back(significant(u.illuminance_of(v), kPageValueDigits));
  return out;
}

// The frame of each calculation area of the scene, by name: its corner and
// its two full edges.
struct AreaFrame {
  Vec3 corner, u, v;
};
std::map<std::string, AreaFrame> area_frames(const Scene& scene) {
  std::map<std::string, AreaFrame> frames;
  for (const auto& s : scene.surfaces)
    for (const auto& a : surface_areas(scene, s)) frames[a.name] = {a.corner, a.u, a.v};
  return frames;
}

// The frame of a lattice worked out from its points, for an area the scene
// does not name: the first point is half a cell in from the corner.
AreaFrame frame_from_points(const Grid& g) {
  const Vec3 p0 = g.points.front();
  Vec3 eu = g.nu > 1 ? normalize(g.points[1] - p0) : Vec3{};
  Vec3 ev = g.nv > 1 ? normalize(g.points[size_t(g.nu)] - p0) : Vec3{};
  if (length(eu) == 0) eu = normalize(cross(ev.x != 0 || ev.y != 0 ? ev : Vec3{1, 0, 0}, g.normal));
  if (length(ev) == 0) ev = normalize(cross(g.normal, eu));
  return {p0 - eu * (0.5 * g.du) - ev * (0.5 * g.dv), eu * (g.du * g.nu), ev * (g.dv * g.nv)};
}

// A string of one character per lattice point, '0' counted, '1' masked,
// '2' outside the area; empty when every point counts.
std::string state_string(const Grid& g) {
  std::string s;
  bool all_counted = true;
  for (size_t p = 0; p < g.points.size(); ++p) {
    const bool in = g.inside.empty() || g.inside[p] != 0;
    const PointState st = p < g.state.size() ? g.state[p] : PointState::Counted;
    const char c = !in || st == PointState::Outside ? '2' : st == PointState::Masked ? '1' : '0';
    all_counted = all_counted && c == '0';
    s += c;
  }
  return all_counted ? std::string() : s;
}

const SurfaceDesc* scene_surface(const Scene& scene, const std::string& name) {
  for (const auto& s : scene.surfaces)
    if (s.name == name) return &s;
  return nullptr;
}

ojson surface_json(const Model& model, const SurfaceResult& r, const std::string& file,
                   const std::map<std::string, AreaFrame>& frames, const RunInfo& info,
                   const Lengths& len) {
  const OutputUnits& u = info.units;
  const Grid& g = r.grid;
  ojson j;
  j["name"] = r.name;
  j["surface"] = r.surface;
  j["role"] = r.role;
  const SurfaceDesc* desc = scene_surface(model.scene(), r.surface);
  const bool reflecting = desc != nullptr && desc->role == SurfaceRole::Reflecting;
  j["kind"] = g.is_point_list() ? "points" : reflecting ? "reflecting" : "calculation";
  if (reflecting) j["reflectance"] = desc->reflectance;
  j["file"] = file;
  j["normal"] = direction_json(g.normal);
  if (g.is_point_list()) {
    ojson points = ojson::array(), normals = ojson::array();
    for (size_t p = 0; p < g.points.size(); ++p) {
      points.push_back(len(g.points[p]));
      normals.push_back(direction_json(g.normal_at(p)));
    }
    j["points"] = points;
    j["normals"] = normals;
    j["labels"] = g.labels;
  } else {
    const auto found = frames.find(r.name);
    const AreaFrame f = found != frames.end() ? found->second : frame_from_points(g);
    j["corner"] = len(f.corner);
    j["u"] = len(f.u);
    j["v"] = len(f.v);
    j["nu"] = g.nu;
    j["nv"] = g.nv;
    if (!g.outline.empty()) {
      ojson rings = ojson::array();
      for (const auto& ring : g.outline) {
        ojson points = ojson::array();
        for (const auto& st : ring) points.push_back({len(st[0]), len(st[1])});
        rings.push_back(points);
      }
      j["outline"] = rings;
    }
    const std::string state = state_string(g);
    if (!state.empty()) j["state"] = state;
  }
  ojson values, stats, scales;
  for (const auto& q : quantities_of(info)) {
    values[q] = display_values(r, values_of(r, q), u);
    const Stats s = stats_for(r, q);
    stats[q] = stats_json(s, u);
    scales[q] = scale_json(nice_scale(u.illuminance_of(s.min), u.illuminance_of(s.max)));
  }
  j["values"] = values;
  j["stats"] = stats;
  j["scales"] = scales;
  return j;
}

// The shapes a luminaire emits from, each in its own frame: "center",
// "axes" (the frame's x, y and z; a flat opening emits towards −z), "size"
// (rectangle and disc: width and height; sphere, cylinder and box: the three
// extents along the axes). A point light is a "point".
ojson opening_json(const Emitter& e, const Lengths& len) {
  const Frame& f = e.frame;
  const auto framed = [&](const char* shape, Vec3 centre, Vec3 ex, Vec3 ey, Vec3 ez,
                          std::vector<double> size) {
    ojson sizes = ojson::array();
    for (double s : size) sizes.push_back(len(s));
    return ojson{{"shape", shape},
                 {"center", len(centre)},
                 {"axes", {direction_json(ex), direction_json(ey), direction_json(ez)}},
                 {"size", sizes}};
  };
  switch (e.kind) {
    case Emitter::Rectangle:
      return framed("rectangle", f.origin, f.ex, f.ey, f.ez, {2 * e.half_u, 2 * e.half_v});
    case Emitter::Disc:
      return framed("disc", f.origin, f.ex, f.ey, f.ez, {2 * e.radius, 2 * e.radius});
    case Emitter::Sphere:
      return framed("sphere", f.origin, f.ex, f.ey, f.ez,
                    {2 * e.radius, 2 * e.radius, 2 * e.radius});
    case Emitter::Cylinder:
      return framed("cylinder", f.origin, f.ex, f.ey, f.ez,
                    {2 * e.radius, 2 * e.radius, 2 * e.half_length});
    case Emitter::Solid: {
      const SolidDesc& s = e.solid;
      switch (s.kind) {
        case SolidDesc::Box:
          return framed("box", (s.min + s.max) * 0.5, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                        {s.max.x - s.min.x, s.max.y - s.min.y, s.max.z - s.min.z});
        case SolidDesc::Sphere:
          return framed("sphere", s.center, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                        {2 * s.radius, 2 * s.radius, 2 * s.radius});
        case SolidDesc::Disc: {
          // Emitting on both sides; the frame's z is the disc's normal.
          const Vec3 ez = normalize(s.normal);
          const Vec3 ex =
              normalize(cross(std::fabs(ez.z) < 0.9 ? Vec3{0, 0, 1} : Vec3{0, 1, 0}, ez));
          return framed("disc", s.center, ex, cross(ez, ex), ez, {2 * s.radius, 2 * s.radius});
        }
        case SolidDesc::Rectangle: {
          const Vec3 ez = normalize(cross(s.u, s.v));
          return framed("rectangle", s.corner + (s.u + s.v) * 0.5, normalize(s.u), normalize(s.v),
                        ez, {length(s.u), length(s.v)});
        }
      }
      break;
    }
    case Emitter::None:
      break;
  }
  return {{"shape", "point"}, {"center", len(f.origin)}};
}

ojson luminaires_json(const Model& model, const RunInfo& info, const Lengths& len) {
  ojson list = ojson::array();
  for (const auto& light : model.lights()) {
    ojson j;
    j["name"] = light.name;
    j["shape"] = light.shape;
    j["position"] = len(light.emitter.frame.origin);
    j["aim"] = direction_json(-light.emitter.frame.ez);
    j["stated_lm"] = light.stated_flux ? ojson(significant(*light.stated_flux, 6)) : ojson();
    for (const auto& f : info.flux)
      if (f.light == light.name) j["photon_lm"] = significant(f.measured, 6);
    j["openings"] = ojson::array({opening_json(light.emitter, len)});
    list.push_back(j);
  }
  return list;
}

ojson solid_json(const SolidDesc& s, const Lengths& len) {
  switch (s.kind) {
    case SolidDesc::Box:
      return {{"kind", "box"}, {"min", len(s.min)}, {"max", len(s.max)}};
    case SolidDesc::Sphere:
      return {{"kind", "sphere"}, {"center", len(s.center)}, {"radius", len(s.radius)}};
    case SolidDesc::Disc:
      return {{"kind", "disc"},
              {"center", len(s.center)},
              {"normal", direction_json(s.normal)},
              {"radius", len(s.radius)}};
    case SolidDesc::Rectangle:
      break;
  }
  return {{"kind", "rectangle"}, {"corner", len(s.corner)}, {"u", len(s.u)}, {"v", len(s.v)}};
}

double mean_transparency(const miColor& t) {
  return (double(t.r) + double(t.g) + double(t.b)) / 3.0;
}

ojson furniture_json(const Scene& scene, const Lengths& len) {
  ojson list = ojson::array();
  for (const auto& o : scene.occluders) {
    ojson j = solid_json(o.solid, len);
    j["name"] = o.name;
    j["reflectance"] = quantised(o.reflectance, 1e-3);
    j["transparency"] = quantised(mean_transparency(o.transparency), 1e-3);
    list.push_back(j);
  }
  for (const auto& m : scene.meshes) {
    ojson positions = ojson::array(), triangles = ojson::array(), reflectance = ojson::array();
    for (const Vec3 p : m.mesh.vertices)
      for (const double c : {p.x, p.y, p.z}) positions.push_back(len(c));
    for (const auto& t : m.mesh.triangles)
      for (const uint32_t index : t) triangles.push_back(index);
    const auto& rho = m.mesh.reflectance;
    const bool uniform =
        std::all_of(rho.begin(), rho.end(), [&](double r) { return r == rho.front(); });
    if (uniform) {
      reflectance = quantised(rho.empty() ? 0.5 : rho.front(), 1e-3);
    } else {
      for (const double r : rho) reflectance.push_back(quantised(r, 1e-3));
    }
    list.push_back({{"name", m.name},
                    {"kind", "mesh"},
                    {"positions", positions},
                    {"triangles", triangles},
                    {"reflectance", reflectance},
                    {"transparency", quantised(mean_transparency(m.transparency), 1e-3)}});
  }
  return list;
}

// The glare observers, each with its viewing directions and their ratings;
// the scene's own observers when the rating was not worked out.
ojson observers_json(const Scene& scene, const RunInfo& info, const Lengths& len) {
  ojson list = ojson::array();
  std::map<std::string, size_t> index;
  if (info.glare) {
    for (const auto& r : info.glare->results) {
      auto [at, added] = index.try_emplace(r.observer, list.size());
      if (added)
        list.push_back(
            {{"name", r.observer}, {"position", len(r.position)}, {"views", ojson::array()}});
      list[at->second]["views"].push_back({{"direction", direction_json(r.direction)},
                                           {"view", r.view},
                                           {"ugr", r.ugr ? ojson(rounded_ugr(*r.ugr)) : ojson()}});
    }
    return list;
  }
  for (const auto& o : scene.observers) {
    ojson views = ojson::array();
    for (const Vec3 d : o.directions)
      views.push_back({{"direction", direction_json(d)}, {"view", "given"}, {"ugr", nullptr}});
    list.push_back({{"name", o.name}, {"position", len(o.position)}, {"views", views}});
  }
  return list;
}

std::string formatted(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// The run's figures for the panel's head, as label and text.
ojson figures_json(const Model& model, const RunInfo& info) {
  ojson list = ojson::array();
  const auto add = [&](const std::string& label, const std::string& value) {
    list.push_back({{"label", label}, {"value", value}});
  };
  const auto& lights = model.lights();
  add("Luminaires", std::to_string(lights.size()));
  double stated = 0;
  const bool all_stated =
      !lights.empty() && std::all_of(lights.begin(), lights.end(),
                                     [](const Light& l) { return l.stated_flux.has_value(); });
  for (const auto& l : lights) stated += l.stated_flux.value_or(0);
  if (all_stated) add("Luminous flux", formatted("%.0f lm", stated));
  double lo = 1, hi = 0;
  for (const auto& l : lights) {
    lo = std::min(lo, l.maintenance_factor);
    hi = std::max(hi, l.maintenance_factor);
  }
  if (lights.empty()) lo = hi = model.scene().maintenance_factor;
  add("Maintenance factor",
      lo == hi ? formatted("%.2f", lo) : formatted("%.2f", lo) + formatted(" to %.2f", hi));
  add("Interreflection", info.interreflection != nullptr
                             ? std::to_string(info.interreflection->patches.size()) + " patches"
                             : "none: direct light only");
  if (info.glare && info.glare->largest)
    add("Largest UGR", formatted("%.1f", rounded_ugr(*info.glare->largest)) + " (" +
                           info.glare->results[info.glare->largest_index].observer + ")");
  add("Calculated in", formatted("%.1f s", info.seconds) + " on " + std::to_string(info.threads) +
                           (info.threads == 1 ? " thread" : " threads"));
  return list;
}

ojson verdicts_json(const std::vector<PageVerdict>& verdicts) {
  ojson list = ojson::array();
  for (const auto& v : verdicts)
    list.push_back({{"requirement", v.requirement},
                    {"area", v.area},
                    {"unit", v.unit},
                    {"relation", v.relation},
                    {"target", significant(v.target, 6)},
                    {"result", v.result ? ojson(significant(*v.result, 6)) : ojson()},
                    {"pass", v.pass},
                    {"margin", v.result ? ojson(significant(v.margin, 6)) : ojson()}});
  return list;
}

}  // namespace

std::vector<PageVerdict> page_verdicts(const Verdict& verdict, const OutputUnits& units) {
  std::vector<PageVerdict> list;
  for (const Requirement& r : verdict.requirements)
    list.push_back({r.quantity, r.area, r.illuminance ? units.illuminance : "",
                    r.at_most ? "<=" : ">=", r.target, r.value, r.pass, r.margin});
  return list;
}

ojson page_data(const Model& model, const std::vector<SurfaceResult>& results, const RunInfo& info,
                const std::vector<PageVerdict>& verdicts) {
  const Scene& scene = model.scene();
  const OutputUnits& u = info.units;
  const Bounds bounds = scene_bounds(model);
  const double extent = u.length_of(length(bounds.hi - bounds.lo));
  const Lengths len{u, length_quantum(extent)};

  ojson data;
  data["format"] = "zel-lux report page 1";
  data["title"] = scene.title.empty() ? scene.file : scene.title;
  data["scene"] = scene.file;
  data["units"] = {{"length", u.length}, {"illuminance", u.illuminance}};
  data["maintenance_factor"] = scene.maintenance_factor;
  data["bounds"] = {{"min", len(bounds.lo)}, {"max", len(bounds.hi)}};
  data["ramp"] = ramp_table();
  const auto quantities = quantities_of(info);
  data["quantities"] = quantities;

  // One scale per quantity over every area, so that a colour means the
  // same illuminance wherever it appears in the room.
  ojson scales;
  for (const auto& q : quantities) {
    double lo = std::numeric_limits<double>::max(), hi = -lo;
    for (const auto& r : results) {
      const Stats s = stats_for(r, q);
      if (s.counted == 0) continue;
      lo = std::min(lo, u.illuminance_of(s.min));
      hi = std::max(hi, u.illuminance_of(s.max));
    }
    if (lo > hi) lo = hi = 0;
    scales[q] = scale_json(nice_scale(lo, hi));
  }
  data["scales"] = scales;

  const auto frames = area_frames(scene);
  ojson surfaces = ojson::array();
  for (size_t k = 0; k < results.size(); ++k)
    surfaces.push_back(surface_json(model, results[k],
                                    k < info.surface_files.size() ? info.surface_files[k] : "",
                                    frames, info, len));
  data["surfaces"] = surfaces;
  data["furniture"] = furniture_json(scene, len);
  data["luminaires"] = luminaires_json(model, info, len);
  data["observers"] = observers_json(scene, info, len);
  if (scene.view)
    data["view"] = {{"position", len(scene.view->position)},
                    {"look_at", len(scene.view->look_at)},
                    {"up", direction_json(scene.view->up)},
                    {"fov", scene.view->fov}};
  data["figures"] = figures_json(model, info);
  // The run's own verdicts unless the caller lists others.
  const auto listed = verdicts.empty() ? page_verdicts(info.verdict, u) : verdicts;
  if (!listed.empty()) data["verdicts"] = verdicts_json(listed);
  return data;
}

}  // namespace lux
