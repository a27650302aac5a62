#include "tools/lux/outputs.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace lux {

namespace fs = std::filesystem;

OutputSet::OutputSet(fs::path dir) : dir_(std::move(dir)) {}

OutputSet::~OutputSet() {
  if (committed_) return;
  std::error_code ignored;
  for (const auto& [temp, final_path] : files_) fs::remove(temp, ignored);
  if (made_dir_ && fs::is_empty(dir_, ignored)) fs::remove(dir_, ignored);
}

fs::path OutputSet::reserve(const std::string& name) {
  if (!fs::exists(dir_)) {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) throw Error(dir_.string() + ": cannot make the output directory: " + ec.message());
    made_dir_ = true;
  }
  const fs::path final_path = dir_ / name;
  const fs::path temp = dir_ / ("." + name + ".tmp" + std::to_string(getpid()));
  files_.emplace_back(temp, final_path);
  return temp;
}

void OutputSet::write_text(const std::string& name, const std::string& text) {
  const fs::path temp = reserve(name);
  std::ofstream out(temp, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw Error((dir_ / name).string() + ": cannot write the file");
}

void OutputSet::commit() {
  for (const auto& [temp, final_path] : files_) {
    std::error_code ec;
    fs::rename(temp, final_path, ec);
    if (ec) throw Error(final_path.string() + ": cannot write the file: " + ec.message());
  }
  committed_ = true;
}

std::vector<fs::path> OutputSet::files() const {
  std::vector<fs::path> out;
  for (const auto& f : files_) out.push_back(f.second);
  return out;
}

std::string slug(const std::string& name) {
  std::string s;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) != 0) {
      s += static_cast<char>(std::tolower(c));
    } else if (!s.empty() && s.back() != '-') {
      s += '-';
    }
  }
  while (!s.empty() && s.back() == '-') s.pop_back();
  return s.empty() ? "surface" : s;
}

namespace {

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string q = "\"";
  for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

std::string number(double v, const char* format = "%.6g") {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}

nlohmann::ordered_json optional_number(const std::optional<double>& v) {
  return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json();
}

}  // namespace

// A point list's table: its points in the order given, with their normals
// and names.
std::string point_list_csv(const SurfaceResult& r, const std::vector<std::string>& light_names) {
  std::ostringstream out;
  out << "index,name,x,y,z,nx,ny,nz,E_lux";
  for (const auto& n : light_names) out << "," << csv_field("E_" + n);
  out << "\n";
  for (size_t p = 0; p < r.grid.points.size(); ++p) {
    const Vec3 x = r.grid.points[p], n = r.grid.normals[p];
    out << p + 1 << "," << csv_field(r.grid.labels[p]);
    for (double c : {x.x, x.y, x.z, n.x, n.y, n.z}) out << "," << number(c, "%.9g");
    out << "," << number(r.lux[p], "%.9g");
    for (const auto& l : r.per_light) out << "," << number(l[p], "%.9g");
    out << "\n";
  }
  return out.str();
}

std::string grid_csv(const SurfaceResult& r, const std::vector<std::string>& light_names) {
  if (r.grid.is_point_list()) return point_list_csv(r, light_names);
  std::ostringstream out;
  out << "i,j,x,y,z,E_lux";
  for (const auto& n : light_names) out << "," << csv_field("E_" + n);
  out << "\n";
  for (int j = 0; j < r.grid.nv; ++j)
    for (int i = 0; i < r.grid.nu; ++i) {
      const size_t p = size_t(j) * size_t(r.grid.nu) + size_t(i);
      if (!r.grid.counts(p)) continue;  // outside a polygon area
      const Vec3 x = r.grid.points[p];
      out << i << "," << j << "," << number(x.x, "%.9g") << "," << number(x.y, "%.9g") << ","
          << number(x.z, "%.9g") << "," << number(r.lux[p], "%.9g");
      for (const auto& l : r.per_light) out << "," << number(l[p], "%.9g");
      out << "\n";
    }
  return out.str();
}

nlohmann::ordered_json report_json(const Model& model, const std::vector<SurfaceResult>& results,
                                   const RunInfo& info) {
  using json = nlohmann::ordered_json;
  const Scene& scene = model.scene();
  json report;
  report["scene"] = scene.file;
  report["title"] = scene.title;
  report["scene_unit"] = scene.unit.name;
  report["threads"] = info.threads;
  report["seconds"] = info.seconds;
  json lights = json::array();
  for (size_t l = 0; l < model.lights().size(); ++l) {
    const Light& light = model.lights()[l];
    json j;
    j["name"] = light.name;
    j["shape"] = light.shape;
    j["samples"] =
        light.samples > 0 ? nlohmann::ordered_json(light.samples) : nlohmann::ordered_json();
    j["accuracy"] =
        light.samples > 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(light.accuracy);
    j["stated_flux_lm"] = optional_number(light.stated_flux);
    j["photon_flux_lm"] = json();
    j["photons"] = 0;
    for (const auto& f : info.flux)
      if (f.light == light.name) {
        j["photon_flux_lm"] = f.measured;
        j["photons"] = f.photons;
      }
    j["caveats"] = light.caveats;
    j["photometry"] = light.photometry;
    j["messages"] = light.messages;
    lights.push_back(j);
  }
  report["lights"] = lights;
  json surfaces = json::array();
  for (size_t s = 0; s < results.size(); ++s) {
    const SurfaceResult& r = results[s];
    json j;
    j["name"] = r.name;
    j["grid"] = {{"nu", r.grid.nu}, {"nv", r.grid.nv}, {"du", r.grid.du}, {"dv", r.grid.dv}};
    j["normal"] = {r.grid.normal.x, r.grid.normal.y, r.grid.normal.z};
    j["kind"] = r.grid.is_point_list() ? "points" : (r.grid.outline.empty() ? "grid" : "polygon");
    j["points"] = counted(r.grid, r.lux).size();
    j["lux"] = {{"min", r.stats.min},
                {"avg", r.stats.avg},
                {"max", r.stats.max},
                {"min_over_avg", r.stats.u0},
                {"min_over_max", r.stats.ud}};
    json shares = json::object();
    for (size_t l = 0; l < r.per_light.size(); ++l)
      shares[model.lights()[l].name] = stats_of(counted(r.grid, r.per_light[l])).avg;
    j["avg_lux_by_light"] = shares;
    if (s < info.surface_files.size()) {
      j["csv"] = info.surface_files[s] + ".csv";
      j["png"] =
          info.pictures && !r.grid.is_point_list() ? json(info.surface_files[s] + ".png") : json();
    }
    json rows = json::array();
    for (int row = 0; row < r.grid.nv; ++row) {
      json values = json::array();
      for (int i = 0; i < r.grid.nu; ++i) {
        const size_t p = size_t(row) * size_t(r.grid.nu) + size_t(i);
        values.push_back(r.grid.counts(p) ? json(r.lux[p]) : json());  // null: outside
      }
      rows.push_back(values);
    }
    j["values"] = r.grid.is_point_list() ? rows[0] : rows;
    if (r.grid.is_point_list()) j["point_names"] = r.grid.labels;
    surfaces.push_back(j);
  }
  report["surfaces"] = surfaces;
  report["view"] = info.view_file ? json(*info.view_file) : json();
  report["messages"] = info.messages;
  return report;
}

void print_summary(std::ostream& out, const Model& model, const std::vector<SurfaceResult>& results,
                   const RunInfo& info) {
  const Scene& scene = model.scene();
  char line[256];
  out << (scene.title.empty() ? scene.file : scene.title) << ": " << model.lights().size()
      << (model.lights().size() == 1 ? " light, " : " lights, ") << results.size()
      << (results.size() == 1 ? " surface" : " surfaces") << ", " << info.threads
      << (info.threads == 1 ? " thread, " : " threads, ") << number(info.seconds, "%.2f") << " s\n";
  if (!results.empty()) {
    std::snprintf(line, sizeof line, "\n%-24s %9s %9s %9s %9s %10s %10s\n", "surface", "points",
                  "E min lx", "E avg lx", "E max lx", "Emin/Eavg", "Emin/Emax");
    out << line;
    for (const auto& r : results) {
      const std::string grid = r.grid.is_point_list() || !r.grid.outline.empty()
                                   ? std::to_string(counted(r.grid, r.lux).size())
                                   : std::to_string(r.grid.nu) + "x" + std::to_string(r.grid.nv);
      std::snprintf(line, sizeof line, "%-24.24s %9s %9.1f %9.1f %9.1f %10.2f %10.2f\n",
                    r.name.c_str(), grid.c_str(), r.stats.min, r.stats.avg, r.stats.max, r.stats.u0,
                    r.stats.ud);
      out << line;
    }
  }
  if (!info.flux.empty()) {
    std::snprintf(line, sizeof line, "\n%-24s %-10s %10s %12s %12s %9s\n", "light", "shape",
                  "photons", "stated lm", "photon lm", "diff");
    out << line;
    for (size_t l = 0; l < model.lights().size(); ++l) {
      const Light& light = model.lights()[l];
      for (const auto& f : info.flux) {
        if (f.light != light.name) continue;
        const std::string stated = f.stated ? number(*f.stated, "%.1f") : "-";
        const std::string diff =
            f.stated && *f.stated != 0
                ? number(100.0 * (f.measured - *f.stated) / *f.stated, "%+.2f") + "%"
                : "-";
        std::snprintf(line, sizeof line, "%-24.24s %-10s %10d %12s %12.1f %9s\n",
                      light.name.c_str(), light.shape.c_str(), f.photons, stated.c_str(),
                      f.measured, diff.c_str());
        out << line;
      }
    }
  }
  for (const auto& light : model.lights()) {
    for (const auto& n : light.notes) out << "light \"" << light.name << "\": " << n << "\n";
    for (const auto& c : light.caveats)
      out << "note: light \"" << light.name << "\": " << c << "\n";
  }
}

}  // namespace lux
