// The interactive report page: its data reproduces what the CSV files and
// the maps say, and the page holds it safely whatever the names in it.
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "tests/lux_fixture.h"
#include "tests/lux_run.h"
#include "tools/lux/report/html.h"
#include "tools/lux/report/picture.h"
#include "tools/lux/transport/radiosity.h"

namespace {

namespace fs = std::filesystem;
using ojson = nlohmann::ordered_json;
using zeltest::LuxTest;

// Rounded numbers stay within half a unit of their last digit, and print
// as short as their digits: the page's size depends on it.
TEST(LuxPageNumbers, RoundingKeepsDigitsAndPrintsShort) {
  struct Case {
    double v;
    int digits;
    double expected;
  };
  const Case cases[] = {{328.94, 4, 328.9},       {123456, 4, 123500},   {0.00123456, 4, 0.001235},
                        {-87.6543, 3, -87.7},     {0.0, 4, 0.0},         {999.96, 4, 1000},
                        {1.23456789e7, 2, 1.2e7}, {-0.0004, 1, -0.0004}, {4e-320, 4, 4e-320}};
  for (const Case& c : cases) {
    EXPECT_EQ(lux::significant(c.v, c.digits), c.expected) << c.v << " to " << c.digits;
  }
  std::mt19937 random(7);
  std::uniform_real_distribution<double> exponent(-3, 6), mantissa(1, 10);
  for (int k = 0; k < 2000; ++k) {
    const double v = mantissa(random) * std::pow(10.0, std::floor(exponent(random)));
    const double r = lux::significant(v, lux::kPageValueDigits);
    EXPECT_LE(std::fabs(r - v), 5e-4 * v) << v;
    // Four digits, a point and at most an exponent or leading zeros.
    EXPECT_LE(ojson(r).dump().size(), 9u) << v << " prints as " << ojson(r).dump();
  }
  for (const double extent : {0.3, 14.4, 57.6, 2500.0}) {
    const double q = lux::length_quantum(extent);
    EXPECT_LE(q, extent * lux::kPageLengthResolution);
    EXPECT_GT(q * 10, extent * lux::kPageLengthResolution);
    const double x = extent * 0.123456789;
    EXPECT_LE(std::fabs(lux::quantised(x, q) - x), q / 2 + 1e-15) << extent;
    EXPECT_LE(ojson(lux::quantised(x, q)).dump().size(), 10u) << extent;
  }
}

// The page's ramp, interpolated between its colours as the page's shader
// and legend do, gives the maps' colours to well under one level of eight
// bits.
TEST(LuxPageRamp, TableGivesTheMapsColours) {
  const ojson table = lux::ramp_table();
  const int n = static_cast<int>(table.size());
  ASSERT_GE(n, 2);
  for (int k = 0; k <= 4000; ++k) {
    const double t = k / 4000.0;
    const double x = t * (n - 1);
    const int k0 = std::min(static_cast<int>(x), n - 2);
    const double f = x - k0;
    const auto want = lux::ramp(t);
    for (int c = 0; c < 3; ++c) {
      const double got = table[size_t(k0)][size_t(c)].get<double>() * (1 - f) +
                         table[size_t(k0 + 1)][size_t(c)].get<double>() * f;
      EXPECT_NEAR(got, want[size_t(c)], 0.5 / 255) << "t " << t << " component " << c;
    }
  }
}

// A room with everything the page draws: a reflecting floor (so direct and
// interreflected parts), a polygon work plane with a hole, a cabinet that
// masks some of its points, a task area with its bands, a wall, a point
// list, lights of several shapes.
const char* kRoom = R"({
  "title": "Page <test> & \"quotes\"", "samples": 4,
  "lights": [
    {"name": "panel", "shape": "rectangle", "size": [0.6, 0.3], "position": [2, 1.0, 2.8],
     "spin": 30, "shader": {"intensity": 2000, "intensity_unit": 1}},
    {"name": "tilted disc", "shape": "disc", "radius": 0.1, "position": [3.2, 2.2, 2.5],
     "aim": [1, 0, -1], "shader": {"intensity": 400, "intensity_unit": 1}},
    {"name": "tube", "shape": "cylinder", "radius": 0.02, "length": 1.2, "position": [1, 2.5, 2.6],
     "aim": [0, 1, 0], "shader": {"intensity": 300, "intensity_unit": 1}},
    {"name": "bulb", "position": [3, 0.8, 2.5], "shader": {"intensity": 500, "intensity_unit": 1}}
  ],
  "light_objects": [
    {"name": "lantern", "shape": "box", "min": [0.2, 2.4, 2.0], "max": [0.5, 2.7, 2.3],
     "shader": {"intensity": 50, "intensity_unit": 1}}
  ],
  "occluders": [{"name": "cabinet", "shape": "box", "min": [0.2, 0.2, 0], "max": [0.8, 0.8, 1.2]}],
  "surfaces": [
    {"name": "floor", "corner": [0, 0, 0], "u": [4, 0, 0], "v": [0, 3, 0], "spacing": 0.5,
     "role": "reflecting", "reflectance": 0.3},
    {"name": "work plane", "spacing": 0.25,
     "polygon": [[0, 0, 0.75], [4, 0, 0.75], [4, 3, 0.75], [2, 3, 0.75], [2, 1.5, 0.75],
                 [0, 1.5, 0.75]],
     "holes": [[[3, 0.5, 0.75], [3.4, 0.5, 0.75], [3.4, 0.9, 0.75], [3, 0.9, 0.75]]],
     "task_areas": [{"name": "desk", "corner": [0.9, 0.2, 0.75], "size": [0.9, 0.6],
                     "surrounding": 0.3, "background": 1}]},
    {"name": "wall", "corner": [0, 3, 0], "u": [4, 0, 0], "v": [0, 0, 2.8], "spacing": 0.4,
     "normal": [0, -1, 0]}
  ],
  "points": [{"name": "desks", "file": "examples/office-l-desks.csv"}],
  "interreflection": {"patch_size": 0.5}
})";

// The CSV of an area as rows of named columns; empty cells stay empty.
std::vector<std::map<std::string, std::string>> csv_rows(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  std::vector<std::string> names;
  for (std::istringstream header(line); std::getline(header, line, ',');) names.push_back(line);
  std::vector<std::map<std::string, std::string>> rows;
  while (std::getline(in, line)) {
    std::map<std::string, std::string> row;
    std::istringstream cells(line);
    for (const auto& name : names) std::getline(cells, row[name], ',');
    rows.push_back(row);
  }
  return rows;
}

double number(const ojson& a) { return a.get<double>(); }
lux::Vec3 vec(const ojson& a) { return {number(a[0]), number(a[1]), number(a[2])}; }

class LuxPageData : public LuxTest {
 protected:
  void SetUp() override {
    LuxTest::SetUp();
    build(kRoom);
    solution_ = lux::solve_radiosity(*model_, {2, false});
    results_ = lux::calculate(*model_, {2, false}, &solution_);
  }
  ojson data(const lux::OutputUnits& units, bool interreflection = true) {
    lux::RunInfo info;
    info.units = units;
    info.interreflection = interreflection ? &solution_ : nullptr;
    return lux::page_data(*model_, results_, info);
  }
  lux::RadiositySolution solution_;
  std::vector<lux::SurfaceResult> results_;
};

// Every counted point of every area, placed by the page's frame and lattice,
// lies where the CSV puts it and carries the CSV's total, direct and
// interreflected illuminance within a twentieth of a percent; a masked point
// (an empty CSV row) is marked masked; points the CSV leaves out are marked
// outside. In lux and metres, and in footcandles and feet.
TEST_F(LuxPageData, LatticesReadBackAsTheCsv) {
  for (const bool fc : {false, true}) {
    const lux::OutputUnits units = lux::output_units(fc, scene_->unit);
    const ojson page = data(units);
    ASSERT_EQ(page["surfaces"].size(), results_.size());
    size_t compared = 0, masked = 0, points = 0;
    for (size_t k = 0; k < results_.size(); ++k) {
      const ojson& s = page["surfaces"][k];
      const auto rows = csv_rows(lux::grid_csv(results_[k], {}, units));
      SCOPED_TRACE(s["name"].get<std::string>() + (fc ? " in fc" : " in lx"));
      const auto close = [&](const std::string& text, double value) {
        const double want = std::stod(text);
        EXPECT_NEAR(value, want, 5e-4 * std::fabs(want) + 1e-9);
      };
      const std::string e = fc ? "E_fc" : "E_lux";
      if (s["kind"] == "points") {
        // A point list's CSV is in lux and scene units whatever the units
        // asked for; the page, like report.json, follows them.
        if (fc) continue;
        ASSERT_EQ(s["points"].size(), rows.size());
        for (size_t p = 0; p < rows.size(); ++p) {
          close(rows[p].at(e), number(s["values"]["total"][p]));
          EXPECT_NEAR(number(s["points"][p][0]), std::stod(rows[p].at("x")), 1e-3);
          ++points;
        }
        continue;
      }
      const int nu = s["nu"], nv = s["nv"];
      const lux::Vec3 corner = vec(s["corner"]), u = vec(s["u"]), v = vec(s["v"]);
      const std::string state = s.value("state", std::string(size_t(nu) * size_t(nv), '0'));
      std::vector<char> listed(size_t(nu) * size_t(nv), 0);
      for (const auto& row : rows) {
        const int i = std::stoi(row.at("i")), j = std::stoi(row.at("j"));
        const size_t p = size_t(j) * size_t(nu) + size_t(i);
        listed[p] = 1;
        const lux::Vec3 at = corner + u * ((i + 0.5) / nu) + v * ((j + 0.5) / nv);
        const double tolerance = 1e-4 * (length(u) + length(v));
        EXPECT_NEAR(at.x, std::stod(row.at("x")), tolerance) << i << "," << j;
        EXPECT_NEAR(at.y, std::stod(row.at("y")), tolerance) << i << "," << j;
        EXPECT_NEAR(at.z, std::stod(row.at("z")), tolerance) << i << "," << j;
        if (row.at(e).empty()) {
          EXPECT_EQ(state[p], '1') << "masked point " << i << "," << j;
          ++masked;
          continue;
        }
        EXPECT_EQ(state[p], '0') << i << "," << j;
        close(row.at(e), number(s["values"]["total"][p]));
        close(row.at("E_direct" + e.substr(1)), number(s["values"]["direct"][p]));
        close(row.at("E_interreflected" + e.substr(1)), number(s["values"]["interreflected"][p]));
        ++compared;
      }
      for (size_t p = 0; p < listed.size(); ++p) {
        if (!listed[p]) {
          EXPECT_EQ(state[p], '2') << "point " << p << " is not in the CSV";
        }
      }
    }
    EXPECT_GT(compared, 200u);
    EXPECT_GT(masked, 0u) << "the cabinet masks points of the work plane and floor";
    EXPECT_TRUE(fc || points > 0) << "the point list";
  }
}

// The maps' scale of each area is its own, the room's spans them all; the
// quantities are the total alone without interreflection.
TEST_F(LuxPageData, ScalesSpanTheirValues) {
  const ojson page = data({});
  EXPECT_EQ(page["quantities"], ojson::array({"total", "direct", "interreflected"}));
  for (const std::string q : {"total", "direct", "interreflected"}) {
    const ojson& room = page["scales"][q];
    for (const auto& s : page["surfaces"]) {
      const ojson& st = s["stats"][q];
      const ojson& own = s["scales"][q];
      const lux::ColourScale want = lux::nice_scale(number(st["min"]), number(st["max"]));
      EXPECT_NEAR(number(own["lo"]), want.lo, 1e-9 * std::fabs(want.hi)) << s["name"] << " " << q;
      EXPECT_NEAR(number(own["hi"]), want.hi, 1e-9 * std::fabs(want.hi)) << s["name"] << " " << q;
      if (number(st["counted"]) == 0) continue;
      EXPECT_LE(number(room["lo"]), number(st["min"]) + 1e-9) << s["name"] << " " << q;
      EXPECT_GE(number(room["hi"]), number(st["max"]) - 1e-9) << s["name"] << " " << q;
    }
  }
  EXPECT_EQ(data({}, false)["quantities"], ojson::array({"total"}));
  EXPECT_EQ(data({}, false)["surfaces"][0]["values"].size(), 1u);
}

// Each luminaire's opening has the size of its emitter and faces where it
// aims; a point light is a point; a light object is its solid.
TEST_F(LuxPageData, OpeningsAreTheEmittersShapes) {
  const ojson page = data({});
  std::map<std::string, ojson> by_name;
  for (const auto& l : page["luminaires"]) by_name[l["name"]] = l;
  ASSERT_EQ(by_name.size(), 5u);
  struct Case {
    const char* name;
    const char* shape;
    std::vector<double> size;
    lux::Vec3 aim;
  };
  const double r2 = std::sqrt(0.5);
  const Case cases[] = {{"panel", "rectangle", {0.6, 0.3}, {0, 0, -1}},
                        {"tilted disc", "disc", {0.2, 0.2}, {r2, 0, -r2}},
                        {"tube", "cylinder", {0.04, 0.04, 1.2}, {0, 1, 0}},
                        {"bulb", "point", {}, {0, 0, -1}},
                        {"lantern", "box", {0.3, 0.3, 0.3}, {0, 0, -1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ojson& l = by_name.at(c.name);
    ASSERT_EQ(l["openings"].size(), 1u);
    const ojson& o = l["openings"][0];
    EXPECT_EQ(o["shape"], c.shape);
    for (size_t k = 0; k < c.size.size(); ++k) EXPECT_NEAR(number(o["size"][k]), c.size[k], 1e-6);
    if (std::string(c.shape) == "box" || std::string(c.shape) == "point") continue;
    // A flat opening emits towards its frame's −z, the light's aim.
    const lux::Vec3 z = vec(o["axes"][2]);
    EXPECT_NEAR(dot(z, c.aim), -1, 1e-6);
    EXPECT_NEAR(dot(vec(o["axes"][0]), z), 0, 1e-6);
  }
  // The rectangle turned by its spin: its width runs 30° from x.
  EXPECT_NEAR(number(by_name["panel"]["openings"][0]["axes"][0][0]), std::cos(M_PI / 6), 1e-6);
}

// Names can hold anything: the data cannot end the script element it sits
// in, the title is escaped, and the JSON read back is the data.
TEST(LuxPage, DataCannotEndItsScript) {
  ojson data;
  data["title"] = "Hall <b>&</b> \"A\"";
  data["surfaces"] = {{{"name", "</script><script>alert(1)</script><!-- x"}}};
  data["note"] = "caf\xc3\xa9 \xe2\x80\xa8";
  const std::string page = lux::html_page(
      "<title><!--zel-lux:title--></title><script type=\"application/json\">"
      "<!--zel-lux:data--></script>",
      data);
  EXPECT_EQ(page.find("</script"), page.rfind("</script")) << page;
  EXPECT_EQ(page.find("<!--"), std::string::npos) << "no comment can open inside the data";
  EXPECT_NE(page.find("<title>Hall &lt;b&gt;&amp;&lt;/b&gt; &quot;A&quot;</title>"),
            std::string::npos)
      << page;
  const size_t from = page.find("json\">") + 6, to = page.rfind("</script>");
  EXPECT_EQ(ojson::parse(page.substr(from, to - from)), data);
  for (const char c : page) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << "ASCII only";
  EXPECT_THROW(lux::html_page("<title></title>", data), lux::Error);
}

// zel-lux --html writes report.html beside the other results: the viewer
// with the run's data, the office's under 3 MB. A build without the viewer
// refuses before calculating, saying why.
TEST(LuxPage, OfficeReportFile) {
  const fs::path out = fs::temp_directory_path() / ("zel-lux-html-" + std::to_string(::getpid()));
  fs::remove_all(out);
  const LuxOutcome r = run_lux({std::string(ZEL_SOURCE_DIR) + "/examples/office.json", "-q",
                                "--no-pictures", "--html", "-o", out.string()});
  if (lux::viewer_template().empty()) {
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("built without the report page's viewer"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::string(lux::viewer_missing_reason())), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << "refused before the calculation";
    GTEST_SKIP() << "built without the viewer: " << lux::viewer_missing_reason();
  }
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path file = out / "report.html";
  ASSERT_TRUE(fs::exists(file));
  EXPECT_LT(fs::file_size(file), 3u << 20);
  std::ifstream in(file);
  const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(page.find("<title>Office with four recessed panels</title>"), std::string::npos);
  EXPECT_EQ(page.find("<!--zel-lux:data-->"), std::string::npos);
  const std::string open = "<script type=\"application/json\" id=\"zel-lux-data\">";
  const size_t from = page.find(open) + open.size();
  const ojson data = ojson::parse(page.substr(from, page.find("</script>", from) - from));
  EXPECT_EQ(data["format"], "zel-lux report page 1");
  EXPECT_EQ(data["luminaires"].size(), 4u);
  EXPECT_NE(r.out.find("report.html"), std::string::npos) << r.out;
  fs::remove_all(out);
}

// A design with targets: the page's verdict table lists every requirement
// of report.json, with its target, result, margin and verdict.
TEST(LuxPage, VerdictsAreTheReports) {
  if (lux::viewer_template().empty()) GTEST_SKIP() << "built without the viewer";
  const fs::path out =
      fs::temp_directory_path() / ("zel-lux-html-verdicts-" + std::to_string(::getpid()));
  fs::remove_all(out);
  const LuxOutcome r = run_lux({std::string(ZEL_SOURCE_DIR) + "/examples/corridor.json", "-q",
                                "--no-pictures", "--html", "-o", out.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  std::ifstream in(out / "report.html");
  const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string open = "<script type=\"application/json\" id=\"zel-lux-data\">";
  const size_t from = page.find(open) + open.size();
  const ojson data = ojson::parse(page.substr(from, page.find("</script>", from) - from));
  const ojson report = ojson::parse(std::ifstream(out / "report.json"));
  const ojson& wanted = report["compliance"]["requirements"];
  ASSERT_FALSE(wanted.empty());
  ASSERT_EQ(data["verdicts"].size(), wanted.size());
  for (size_t k = 0; k < wanted.size(); ++k) {
    const ojson& v = data["verdicts"][k];
    const ojson& w = wanted[k];
    EXPECT_EQ(v["area"], w["area"]);
    EXPECT_EQ(v["requirement"], w["quantity"]);
    EXPECT_EQ(v["relation"], w["comparison"]);
    EXPECT_EQ(v["unit"], w["unit"]);
    EXPECT_EQ(v["pass"], w["pass"]);
    EXPECT_NEAR(v["target"].get<double>(), w["target"].get<double>(), 1e-9);
    if (w["value"].is_null()) {
      EXPECT_TRUE(v["result"].is_null()) << v;
    } else {
      const double value = w["value"].get<double>();
      EXPECT_NEAR(v["result"].get<double>(), value, 1e-5 * std::fabs(value) + 1e-12) << w;
      EXPECT_NEAR(v["margin"].get<double>(), w["margin"].get<double>(),
                  1e-5 * std::fabs(value) + 1e-12);
    }
  }
  fs::remove_all(out);
}

}  // namespace
