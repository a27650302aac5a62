// The PDF report, read back with poppler's tools as any reader would: its
// pages and paper, the statistics it prints against the JSON report's, every
// luminaire in its schedule and every grid point in its point tables.
#include <cairo.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "tests/lux_fixture.h"
#include "tests/lux_run.h"
#include "tools/lux/cli/cli.h"
#include "tools/lux/report/pdf_document.h"

namespace {

namespace fs = std::filesystem;
using zeltest::LuxTest;

bool poppler_present() {
  return std::system("pdfinfo -v >/dev/null 2>&1") == 0 &&
         std::system("pdftotext -v >/dev/null 2>&1") == 0;
}

// Standard output of a shell command.
std::string capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// Text of pages first..last (1-based; 0: to the end), laid out as printed.
std::string pdf_text(const fs::path& pdf, int first = 1, int last = 0) {
  std::string command = "pdftotext -layout -f " + std::to_string(first);
  if (last > 0) command += " -l " + std::to_string(last);
  return capture(command + " '" + pdf.string() + "' -");
}

// A field of pdfinfo's report, e.g. "Pages" or "Page size".
std::string pdf_info(const fs::path& pdf, const std::string& field) {
  std::istringstream info(capture("pdfinfo '" + pdf.string() + "'"));
  for (std::string line; std::getline(info, line);)
    if (line.rfind(field + ":", 0) == 0) {
      const size_t value = line.find_first_not_of(' ', field.size() + 1);
      return value == std::string::npos ? "" : line.substr(value);
    }
  return "";
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// Two luminaire types (three lights), a floor whose point table runs over
// two pages and a wall whose table fits on one.
const char* kScene = R"({
  "title": "Report test room",
  "samples": 4,
  "lights": [
    {"name": "panel north", "shape": "rectangle", "size": [0.6, 0.6],
     "position": [1, 2, 2.8], "shader": {"intensity": 3000, "intensity_unit": 1,
                                         "cosine_distribution": true}},
    {"name": "panel south", "shape": "rectangle", "size": [0.6, 0.6],
     "position": [3, 2, 2.8], "shader": {"intensity": 3000, "intensity_unit": 1,
                                         "cosine_distribution": true}},
    {"name": "wall washer", "shape": "disc", "radius": 0.05, "position": [0.3, 0.5, 2.5],
     "aim": [1, 0, -1], "shader": {"intensity": 40, "intensity_unit": 4,
                                   "cosine_distribution": true}}
  ],
  "surfaces": [
    {"name": "floor", "corner": [0, 0, 0], "u": [4, 0, 0], "v": [0, 3, 0], "spacing": 0.2},
    {"name": "east wall", "corner": [4, 0, 0], "u": [0, 4, 0], "v": [0, 0, 3],
     "spacing": 0.5, "normal": [-1, 0, 0]}
  ]
})";

class LuxPdf : public LuxTest {
 protected:
  void SetUp() override {
    LuxTest::SetUp();
    if (!poppler_present())
      GTEST_SKIP() << "poppler-utils (pdfinfo, pdftotext) are not installed; "
                      "scripts/deps.sh installs them";
    dir_ = fs::temp_directory_path() / ("lux_pdf_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    std::ofstream(dir_ / "room.json") << kScene;
  }
  void TearDown() override {
    fs::remove_all(dir_);
    LuxTest::TearDown();
  }
  // Runs the scene with --pdf and `extra` arguments into `name`.
  fs::path report(const std::string& name, std::vector<std::string> extra = {}) {
    return run_pdf(dir_ / "room.json", name, std::move(extra));
  }
  // Runs `scene` with --pdf and `extra` arguments into `name`.
  fs::path run_pdf(const fs::path& scene, const std::string& name, std::vector<std::string> extra) {
    const fs::path out = dir_ / name;
    std::vector<std::string> args{scene.string(), "-o", out.string(),    "-q",
                                  "-j",           "2",  "--no-pictures", "--pdf"};
    args.insert(args.end(), extra.begin(), extra.end());
    const LuxOutcome r = run_lux(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return out;
  }
  fs::path dir_;
};

// The report has its title page, the schedule, the plan, a page per
// surface and the settings; with --point-tables an appendix follows with
// each surface's grid points (the floor's 300 points need two pages at the
// points per page a table of that font holds, the wall's fit on one). The
// PDF is part of the run's files and named in the JSON report.
TEST_F(LuxPdf, PagesFollowTheReportsStructure) {
  const fs::path out = report("a4");
  ASSERT_TRUE(fs::exists(out / "report.pdf"));
  for (const auto& e : fs::directory_iterator(out))
    if (e.path().filename() != ".zel-lux-files") {  // the run's list of its own files
      EXPECT_NE(e.path().filename().string()[0], '.') << "temporary left: " << e.path();
    }
  const nlohmann::json json = nlohmann::json::parse(std::ifstream(out / "report.json"));
  EXPECT_EQ(json["pdf"], "report.pdf");
  EXPECT_EQ(pdf_info(out / "report.pdf", "Title"), "Report test room");
  const int floor_points = 20 * 15, wall_points = 8 * 6;
  ASSERT_EQ(json["surfaces"][0]["points"], floor_points);
  ASSERT_EQ(json["surfaces"][1]["points"], wall_points);
  // title, schedule, plan, floor, wall, settings
  EXPECT_EQ(std::stoi(pdf_info(out / "report.pdf", "Pages")), 6);
  EXPECT_EQ(pdf_text(out / "report.pdf").find(": grid points"), std::string::npos)
      << "point tables only on request";
  EXPECT_NE(pdf_text(out / "report.pdf", 3, 3).find("Plan"), std::string::npos);

  const fs::path with_points = report("points-appendix", {"--point-tables"});
  const int pages = std::stoi(pdf_info(with_points / "report.pdf", "Pages"));
  EXPECT_EQ(pages, 6 + 2 + 1);
  EXPECT_NE(pdf_text(with_points / "report.pdf", 7, 7).find("floor: grid points"),
            std::string::npos);
  // Every page says which it is, of how many.
  for (int p = 1; p <= pages; ++p) {
    const std::string text = pdf_text(with_points / "report.pdf", p, p);
    EXPECT_NE(text.find("page " + std::to_string(p) + " of " + std::to_string(pages)),
              std::string::npos)
        << "page " << p;
  }
}

// The summary on the title page and each surface's statistics print the
// JSON report's numbers, to the digits shown.
TEST_F(LuxPdf, StatisticsPrintedAreTheJsonReports) {
  const fs::path out = report("stats");
  const nlohmann::json json = nlohmann::json::parse(std::ifstream(out / "report.json"));
  const std::string title_page = pdf_text(out / "report.pdf", 1, 1);
  for (const auto& surface : json["surfaces"]) {
    const std::string name = surface["name"];
    const auto& lux = surface["lux"];
    // Summary row: name, grid "nu x nv", E avg, E min, E max, Emin/Eavg, Emin/Emax.
    std::istringstream lines(title_page);
    bool found = false;
    for (std::string line; std::getline(lines, line);) {
      const size_t at = line.find_first_not_of(' ');
      if (at == std::string::npos || line.compare(at, name.size() + 1, name + " ") != 0) continue;
      // pdftotext may or may not keep the spaces of "nu x nv": the grid is
      // what comes before the five numbers.
      auto w = words(line.substr(at + name.size()));
      ASSERT_GE(w.size(), 6u) << line;
      std::string grid;
      while (w.size() > 5) {
        grid += w.front();
        w.erase(w.begin());
      }
      EXPECT_EQ(grid, std::to_string(surface["grid"]["nu"].get<int>()) + "x" +
                          std::to_string(surface["grid"]["nv"].get<int>()));
      const struct {
        const char* key;
        double printed, tolerance;
      } values[] = {{"avg", std::stod(w[0]), 0.05},
                    {"min", std::stod(w[1]), 0.05},
                    {"max", std::stod(w[2]), 0.05},
                    {"min_over_avg", std::stod(w[3]), 0.005},
                    {"min_over_max", std::stod(w[4]), 0.005}};
      for (const auto& v : values)
        EXPECT_NEAR(v.printed, lux[v.key].get<double>(), v.tolerance + 1e-9)
            << name << " " << v.key;
      found = true;
    }
    EXPECT_TRUE(found) << name << " is not in the summary:\n" << title_page;
  }
  // The surface pages' statistics: "E avg  <value>  lx" and so on.
  const std::string all = pdf_text(out / "report.pdf");
  for (const auto& surface : json["surfaces"]) {
    const std::string name = surface["name"];
    const size_t page = all.find((surface["kind"] == "points" ? "Points: " : "Surface: ") + name);
    ASSERT_NE(page, std::string::npos) << name;
    for (const auto& [label, key] :
         {std::pair{"E avg", "avg"}, std::pair{"E min", "min"}, std::pair{"E max", "max"}}) {
      // The table's row (to a tenth), not the map's rounded caption.
      const std::regex pattern(std::string(label) + R"(\s+([0-9]+\.[0-9])\s+lx)");
      std::smatch m;
      const std::string rest = all.substr(page);
      ASSERT_TRUE(std::regex_search(rest, m, pattern)) << name << " " << label;
      EXPECT_NEAR(std::stod(m[1]), surface["lux"][key].get<double>(), 0.05 + 1e-9)
          << name << " " << label;
    }
  }
}

// Every luminaire is in the schedule, with the flux its parameters state;
// luminaires of the same kind are one type counted twice, and the power of
// the one given in watt is printed.
TEST_F(LuxPdf, ScheduleListsEveryLuminaire) {
  const fs::path out = report("schedule");
  const std::string schedule = pdf_text(out / "report.pdf", 2, 2);
  ASSERT_NE(schedule.find("Luminaire schedule"), std::string::npos) << schedule;
  const nlohmann::json json = nlohmann::json::parse(std::ifstream(out / "report.json"));
  for (const auto& light : json["lights"]) {
    const std::string name = light["name"];
    std::istringstream lines(schedule);
    bool listed = false;
    for (std::string line; std::getline(lines, line);) {
      const size_t at = line.find_first_not_of(' ');
      if (at == std::string::npos || line.compare(at, name.size(), name) != 0) continue;
      listed = true;
      // The stated flux closes the row (no photons were measured).
      const auto w = words(line);
      ASSERT_GE(w.size(), 2u);
      EXPECT_NEAR(std::stod(w[w.size() - 2]), light["stated_flux_lm"].get<double>(), 0.5) << line;
    }
    EXPECT_TRUE(listed) << name << " is not in the schedule:\n" << schedule;
  }
  // Type rows: "T1 2 rectangle ...", and the watt-rated light's 40 W.
  const std::regex two_panels(R"(T1\s+2\s+rectangle)");
  EXPECT_TRUE(std::regex_search(schedule, two_panels)) << schedule;
  const std::regex washer(R"(T2\s+1\s+disc.*\s40\.0\s+40\.0)");
  EXPECT_TRUE(std::regex_search(schedule, washer)) << schedule;
}

// The point tables of the appendix hold every grid point once, with the
// JSON report's illuminance.
TEST_F(LuxPdf, PointTablesHoldEveryGridPoint) {
  const fs::path out = report("points", {"--point-tables"});
  const nlohmann::json json = nlohmann::json::parse(std::ifstream(out / "report.json"));
  const std::string all = pdf_text(out / "report.pdf");
  for (const auto& surface : json["surfaces"]) {
    const std::string name = surface["name"];
    const size_t from = all.find(name + ": grid points");
    ASSERT_NE(from, std::string::npos) << name;
    size_t to = all.find(": grid points", from + name.size() + 14);
    const size_t settings = all.find("Calculation settings", from);
    to = std::min(to, settings);
    std::istringstream lines(all.substr(from, to - from));
    const int nu = surface["grid"]["nu"], nv = surface["grid"]["nv"];
    std::vector<int> seen(size_t(nu) * size_t(nv), 0);
    for (std::string line; std::getline(lines, line);) {
      const auto w = words(line);
      if (w.empty() || w.size() % 6 != 0 || w[0] == "i") continue;
      for (size_t k = 0; k + 5 < w.size(); k += 6) {
        if (w[k].find_first_not_of("0123456789") != std::string::npos) break;
        const int i = std::stoi(w[k]), j = std::stoi(w[k + 1]);
        ASSERT_TRUE(i >= 0 && i < nu && j >= 0 && j < nv) << line;
        ++seen[size_t(j) * size_t(nu) + size_t(i)];
        EXPECT_NEAR(std::stod(w[k + 5]), surface["values"][size_t(j)][size_t(i)].get<double>(),
                    0.05 + 1e-9)
            << name << " point " << i << ", " << j;
      }
    }
    for (size_t p = 0; p < seen.size(); ++p) EXPECT_EQ(seen[p], 1) << name << " point " << p;
  }
}

// Text set on the page: lines no wider than the text width, broken between
// words as long as a word fits (a line never leaves room for the next
// word), within a word only where the word alone is wider than a line, on
// whole UTF-8 characters; with a limit on the lines the last one ends in
// an ellipsis. Shortened text is a prefix that fits with its ellipsis.
// Texts of 100,000 characters are set like short ones.
TEST(LuxTypesetting, WrapsAndShortensTextOfAnyLength) {
  cairo_surface_t* surface = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
  cairo_t* cr = cairo_create(surface);
  {
    const lux::Document doc(cr, lux::page_size(lux::Paper::A4), "", 0);
    std::string many_words;
    for (int k = 0; many_words.size() < 100000; ++k)
      many_words += (k == 0 ? "" : " ") + std::string("word") + std::to_string(k);
    many_words.resize(100000);
    const std::string one_word(100000, 'x');
    std::string accents;
    for (int k = 0; k < 400; ++k) accents += k % 7 == 6 ? " " : "\u0112\u00e9";
    const std::string texts[] = {
        "A lighting design for a classroom of nine by seven metres with twelve panels",
        "short " + std::string(300, 'y') + " words after a long one", many_words, one_word,
        accents};
    const auto no_spaces = [](const std::string& t) {
      std::string out;
      for (const char c : t)
        if (c != ' ') out += c;
      return out;
    };
    // Whole UTF-8 characters: each lead byte followed by its continuations.
    const auto whole_characters = [](const std::string& t) {
      for (size_t at = 0; at < t.size();) {
        const auto lead = static_cast<unsigned char>(t[at]);
        const size_t n = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
        if (n == 0 || at + n > t.size()) return false;
        for (size_t k = 1; k < n; ++k)
          if ((static_cast<unsigned char>(t[at + k]) & 0xC0) != 0x80) return false;
        at += n;
      }
      return true;
    };
    for (const double size : {7.5, 18.0}) {
      const double width = doc.width();
      for (const std::string& text : texts) {
        SCOPED_TRACE(::testing::Message() << size << " pt, " << text.substr(0, 40));
        const auto lines = doc.wrap(text, width, size, false);
        ASSERT_FALSE(lines.empty());
        std::string joined;
        for (size_t k = 0; k < lines.size(); ++k) {
          EXPECT_LE(doc.text_width(lines[k], size), width + 1e-9) << lines[k];
          EXPECT_TRUE(whole_characters(lines[k])) << k;
          joined += lines[k];
          if (k + 1 == lines.size()) break;
          // The next line's first word did not fit after this line's end.
          const std::string next = lines[k + 1].substr(0, lines[k + 1].find(' '));
          if (lines[k].back() != 'x' && lines[k].back() != 'y') {
            EXPECT_GT(doc.text_width(lines[k] + " " + next, size), width) << lines[k];
          }
        }
        EXPECT_EQ(no_spaces(joined), no_spaces(text)) << "every character, in order";
        // At most four lines, the last shortened; the others as before.
        const auto four = doc.wrap(text, width, size, false, 4);
        ASSERT_EQ(four.size(), std::min<size_t>(4, lines.size()));
        for (size_t k = 0; k + 1 < four.size(); ++k) EXPECT_EQ(four[k], lines[k]);
        EXPECT_LE(doc.text_width(four.back(), size), width + 1e-9);
        if (lines.size() > 4) {
          EXPECT_EQ(four.back().substr(four.back().size() - 3), "\u2026");
        }
        // Shortened to a tenth of the width: a prefix with an ellipsis.
        const std::string cut = doc.fitted(text, width / 10, size);
        EXPECT_LE(doc.text_width(cut, size), width / 10 + 1e-9);
        ASSERT_GE(cut.size(), 3u);
        EXPECT_EQ(cut.substr(cut.size() - 3), "\u2026");
        EXPECT_EQ(text.compare(0, cut.size() - 3, cut, 0, cut.size() - 3), 0);
        // The longest such prefix: one more character would not fit.
        const size_t kept = cut.size() - 3;
        size_t more = kept + 1;
        while (more < text.size() && (static_cast<unsigned char>(text[more]) & 0xC0) == 0x80)
          ++more;
        EXPECT_GT(doc.text_width(text.substr(0, more) + "\u2026", size), width / 10);
      }
    }
    EXPECT_EQ(doc.fitted("fits", doc.width(), 9.5), "fits");
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

// A4 by default, Letter on request (in points: 210 × 297 mm and 8.5 × 11 in),
// and any other paper refused.
TEST_F(LuxPdf, PaperSizeIsA4OrLetter) {
  struct Case {
    std::vector<std::string> args;
    lux::Paper paper;
    double width, height;  // points
  };
  const Case cases[] = {{{}, lux::Paper::A4, 595.276, 841.89},
                        {{"--paper", "letter"}, lux::Paper::Letter, 612, 792},
                        {{"--paper", "A4"}, lux::Paper::A4, 595.276, 841.89}};
  int k = 0;
  for (const Case& c : cases) {
    const fs::path out = report("paper" + std::to_string(k++), c.args);
    const auto w = words(pdf_info(out / "report.pdf", "Page size"));
    ASSERT_GE(w.size(), 3u);
    EXPECT_NEAR(std::stod(w[0]), c.width, 0.01);
    EXPECT_NEAR(std::stod(w[2]), c.height, 0.01);
    EXPECT_NEAR(lux::page_size(c.paper).width, c.width, 0.001);
    EXPECT_NEAR(lux::page_size(c.paper).height, c.height, 0.001);
  }
  const LuxOutcome bad = run_lux(
      {(dir_ / "room.json").string(), "-o", (dir_ / "bad").string(), "--pdf", "--paper", "a3"});
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.err.find("a4 or letter"), std::string::npos) << bad.err;
  EXPECT_FALSE(fs::exists(dir_ / "bad"));
}

// A room whose faces reflect, two panels, a work plane, the glare rating
// from one seat in two directions and cylindrical illuminance at one eye
// height: every further section of the report is there.
const char* kGlareScene = R"({
  "title": "Glare and modelling room",
  "samples": 4,
  "room": {"position": [0, 0, 0], "size": [4, 3, 2.8], "spacing": 1.0},
  "interreflection": {"patch_size": 0.7},
  "lights": [
    {"name": "panel west", "shape": "rectangle", "size": [0.6, 0.6],
     "position": [1.2, 1.5, 2.75], "shader": {"intensity": 3000, "intensity_unit": 1,
                                              "cosine_distribution": true}},
    {"name": "panel east", "shape": "rectangle", "size": [0.6, 0.6],
     "position": [2.8, 1.5, 2.75], "shader": {"intensity": 3000, "intensity_unit": 1,
                                              "cosine_distribution": true}}
  ],
  "surfaces": [
    {"name": "work plane", "corner": [0, 0, 0.75], "u": [4, 0, 0], "v": [0, 3, 0], "spacing": 0.5}
  ],
  "cylindrical": [{"name": "seating", "corner": [0, 0, 0], "u": [4, 0, 0], "v": [0, 3, 0],
                   "spacing": 1, "heights": [1.2]}],
  "observers": [{"name": "seat", "position": [2, 0.4, 1.2], "directions": [[0, 1, 0], [1, 0, 0]]}],
  "ugr": {"default_observers": false}
})";

// The line of `text` that begins with `name` followed by a space, cut
// after the name; empty when there is none. With `after` the search starts
// there.
std::string row_after(const std::string& text, const std::string& name, size_t after = 0) {
  std::istringstream lines(text.substr(std::min(after, text.size())));
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find_first_not_of(' ');
    if (at != std::string::npos && line.compare(at, name.size() + 1, name + " ") == 0)
      return line.substr(at + name.size());
  }
  return "";
}

// The report of a room with glare, cylindrical areas and interreflection:
// its further sections print the JSON report's UGR per observer and
// direction, cylindrical, horizontal and semi-cylindrical figures and the
// flux balance (totals and per element) to the digits shown; every
// luminaire is in the schedule and in the glare detail; the pages are the
// title, the schedule, the plan, a page per surface, two pages of further
// sections (no section split between them) and the settings.
TEST_F(LuxPdf, GlareCylindricalAndFluxBalanceAreTheJsonReports) {
  std::ofstream(dir_ / "glare.json") << kGlareScene;
  const fs::path out = dir_ / "glare";
  const LuxOutcome r = run_lux({(dir_ / "glare.json").string(), "-o", out.string(), "-q", "-j", "2",
                                "--no-pictures", "--pdf"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json json = nlohmann::json::parse(std::ifstream(out / "report.json"));
  const fs::path pdf = out / "report.pdf";
  const std::string all = pdf_text(pdf);
  ASSERT_FALSE(json["ugr"].is_null());
  ASSERT_FALSE(json["interreflection"].is_null());
  ASSERT_EQ(json["cylindrical"].size(), 1u);

  const int surfaces = static_cast<int>(json["surfaces"].size());
  ASSERT_EQ(surfaces, 7);  // six room faces and the work plane
  const int pages = std::stoi(pdf_info(pdf, "Pages"));
  EXPECT_EQ(pages, 1 + 1 + 1 + surfaces + 2 + 1);
  const std::string sections_page = pdf_text(pdf, pages - 2, pages - 1);
  for (const char* heading : {"Discomfort glare (UGR)", "Cylindrical illuminance and modelling",
                              "Semi-cylindrical illuminance", "Flux balance of the interreflection",
                              "Light absorbed per reflecting element"})
    EXPECT_NE(sections_page.find(heading), std::string::npos) << heading << "\n" << sections_page;
  EXPECT_NE(pdf_text(pdf, pages, pages).find("Calculation settings"), std::string::npos);

  // UGR: "seat (2, 0.4, 1.2) +y given <L_b> <count> <UGR>"; "-" where no
  // luminaire is in the field (looking +x, the panels are too high or
  // behind).
  const size_t glare_at = all.find("Discomfort glare (UGR)");
  ASSERT_NE(glare_at, std::string::npos);
  for (const auto& rating : json["ugr"]["ratings"]) {
    const auto& d = rating["direction"];
    const std::string looking = d[0].get<double>() > 0.5 ? "+x" : "+y";
    size_t at = glare_at;
    std::vector<std::string> w;
    for (;;) {
      const std::string row = row_after(all, rating["observer"], at);
      ASSERT_FALSE(row.empty()) << "no row looking " << looking;
      at = all.find(row, at) + row.size();
      w = words(row);
      if (std::find(w.begin(), w.end(), looking) != w.end()) break;
    }
    if (rating["ugr"].is_null()) {
      EXPECT_EQ(w.back(), "-") << looking;
    } else {
      EXPECT_NEAR(std::stod(w.back()), rating["ugr"].get<double>(), 0.05 + 1e-9) << looking;
    }
    EXPECT_NEAR(std::stod(w[w.size() - 3]), rating["background_luminance_cd_m2"].get<double>(),
                0.05 + 1e-9)
        << looking;
    EXPECT_EQ(std::stoi(w[w.size() - 2]), static_cast<int>(rating["luminaires"].size()));
  }
  ASSERT_FALSE(json["ugr"]["largest"].is_null());
  {
    char largest[32];
    std::snprintf(largest, sizeof largest, "Largest UGR: %.1f",
                  json["ugr"]["largest"].get<double>());
    EXPECT_NE(all.find(largest), std::string::npos) << largest;
  }

  // Cylindrical: "seating 1.20 4 x 3 <Ez avg> <Ez min> <min/avg> <Eh avg> <Ez/Eh>".
  const auto& cyl = json["cylindrical"][0];
  const size_t cyl_at = all.find("Cylindrical illuminance and modelling");
  ASSERT_NE(cyl_at, std::string::npos);
  {
    const auto w = words(row_after(all, "seating", cyl_at));
    ASSERT_GE(w.size(), 6u);
    const size_t n = w.size();
    EXPECT_NEAR(std::stod(w[n - 5]), cyl["cylindrical"]["avg"].get<double>(), 0.05 + 1e-9);
    EXPECT_NEAR(std::stod(w[n - 4]), cyl["cylindrical"]["min"].get<double>(), 0.05 + 1e-9);
    EXPECT_NEAR(std::stod(w[n - 3]), cyl["cylindrical"]["min_over_avg"].get<double>(),
                0.005 + 1e-9);
    EXPECT_NEAR(std::stod(w[n - 2]), cyl["horizontal"]["avg"].get<double>(), 0.05 + 1e-9);
    EXPECT_NEAR(std::stod(w[n - 1]), cyl["modelling"].get<double>(), 0.005 + 1e-9);
  }
  // Semi-cylindrical: "seating 1.20 <facing> <avg> <min> <max> <min/avg>" per facing.
  const size_t semi_at = all.find("Semi-cylindrical illuminance");
  ASSERT_NE(semi_at, std::string::npos);
  const char* facings[] = {"+x", "+y", "-x", "-y"};
  size_t at = semi_at;
  for (size_t k = 0; k < 4; ++k) {
    const std::string row = row_after(all, "seating", at);
    at = all.find(row, at) + row.size();
    const auto w = words(row);
    ASSERT_EQ(w.size(), 6u) << row;
    EXPECT_EQ(w[1], facings[k]);
    const auto& semi = cyl["semi_cylindrical"][k];
    EXPECT_NEAR(std::stod(w[2]), semi["avg"].get<double>(), 0.05 + 1e-9) << facings[k];
    EXPECT_NEAR(std::stod(w[3]), semi["min"].get<double>(), 0.05 + 1e-9) << facings[k];
    EXPECT_NEAR(std::stod(w[4]), semi["max"].get<double>(), 0.05 + 1e-9) << facings[k];
  }

  // Flux balance: totals, and each element's absorbed lumen.
  const auto& balance = json["interreflection"]["flux_balance_lm"];
  const size_t flux_at = all.find("Flux balance of the interreflection");
  ASSERT_NE(flux_at, std::string::npos);
  const struct {
    const char* label;
    const char* key;
  } totals[] = {{"Emitted by the luminaires", "emitted"},
                {"Directly on reflecting surfaces", "direct_on_reflecting_surfaces"},
                {"Absorbed by reflecting surfaces", "absorbed"},
                {"Reflected and lost", "reflected_and_lost"},
                {"Left unshot", "unshot"}};
  for (const auto& t : totals) {
    const auto w = words(row_after(all, t.label, flux_at));
    ASSERT_GE(w.size(), 1u) << t.label;
    EXPECT_NEAR(std::stod(w[0]), balance[t.key].get<double>(), 0.05 + 1e-9) << t.label;
  }
  EXPECT_NEAR(balance["emitted"].get<double>(), 6000, 1e-6);  // both panels state 3000 lm
  const size_t elements_at = all.find("Light absorbed per reflecting element");
  ASSERT_NE(elements_at, std::string::npos);
  for (const auto& element : json["interreflection"]["elements"]) {
    const auto w = words(row_after(all, element["name"], elements_at));
    ASSERT_GE(w.size(), 1u) << element["name"];
    EXPECT_NEAR(std::stod(w.back()), element["absorbed_lm"].get<double>(), 0.05 + 1e-9)
        << element["name"];
  }

  // Every luminaire in the schedule and among the ones the seat sees.
  const std::string schedule = pdf_text(pdf, 2, 2);
  for (const auto& light : json["lights"]) {
    EXPECT_FALSE(row_after(schedule, light["name"]).empty()) << light["name"];
    EXPECT_FALSE(row_after(all, light["name"], glare_at).empty()) << light["name"];
  }
  // The closed room absorbs all the light its luminaires emit, and the
  // balance says so in new lumen whatever the maintenance factor (the
  // patches carry maintained light).
  {
    std::string scene = kGlareScene;
    scene.insert(scene.find('{') + 1, R"("maintenance_factor": 0.8,)");
    std::ofstream(dir_ / "maintained.json") << scene;
    const fs::path maintained = dir_ / "maintained";
    const LuxOutcome m = run_lux({(dir_ / "maintained.json").string(), "-o", maintained.string(),
                                  "-q", "-j", "2", "--no-pictures", "--pdf"});
    ASSERT_EQ(m.status, 0) << m.err;
    const std::string text = pdf_text(maintained / "report.pdf");
    const auto w = words(row_after(text, "Absorbed by reflecting surfaces",
                                   text.find("Flux balance of the interreflection")));
    ASSERT_GE(w.size(), 2u);
    EXPECT_NEAR(std::stod(w[0]), 6000, 0.01 * 6000);
    EXPECT_NEAR(std::stod(w[0]), balance["absorbed"].get<double>(), 0.05 + 1e-9);
    // The JSON report draws up the same balance.
    const auto report = nlohmann::json::parse(std::ifstream(maintained / "report.json"));
    const auto& kept = report["interreflection"]["flux_balance_lm"];
    EXPECT_NEAR(kept["absorbed"].get<double>(), std::stod(w[0]), 0.05 + 1e-9);
    EXPECT_NEAR(kept["escaped"].get<double>(), 0, 0.01 * 6000);
  }

  // The settings name the accuracy, the patches reached (at most the
  // patch size asked for) and the residual the run used.
  const std::string settings = pdf_text(pdf, pages, pages);
  EXPECT_NE(settings.find("accuracy 0.01"), std::string::npos) << settings;
  EXPECT_NE(settings.find("residual 1e-05"), std::string::npos) << settings;
}

// Words of page `page` with their boxes, as pdftotext -bbox gives them
// (points from the page's top left).
struct Word {
  std::string text;
  double x0, y0, x1, y1;
  double cx() const { return (x0 + x1) / 2; }
  double cy() const { return (y0 + y1) / 2; }
};
std::vector<Word> pdf_words(const fs::path& pdf, int page) {
  const std::string html = capture("pdftotext -bbox -f " + std::to_string(page) + " -l " +
                                   std::to_string(page) + " '" + pdf.string() + "' -");
  const std::regex word(
      R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">([^<]*)</word>)re");
  std::vector<Word> out;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), word); it != std::sregex_iterator();
       ++it)
    out.push_back({(*it)[5], std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]),
                   std::stod((*it)[4])});
  return out;
}

// The page of the report whose text holds `heading`; 0 when none does.
int page_with(const fs::path& pdf, const std::string& heading) {
  const int pages = std::stoi(pdf_info(pdf, "Pages"));
  for (int p = 1; p <= pages; ++p)
    if (pdf_text(pdf, p, p).find(heading) != std::string::npos) return p;
  return 0;
}

// A room with targets, furniture and five luminaires of three kinds at
// places that do not lie on a line.
const char* kPlanScene = R"({
  "title": "A lighting design for the plan and verdict tests, with a title long enough to need a second line on the page",
  "samples": 4,
  "maintenance_factor": 0.8,
  "room": {"size": [6, 4, 2.8], "spacing": 1.0},
  "interreflection": {"patch_size": 1.0},
  "lights": [
    {"name": "A1", "shape": "rectangle", "size": [0.6, 0.6], "position": [1.0, 1.0, 2.75],
     "shader": {"intensity": 3000, "intensity_unit": 1, "cosine_distribution": true}},
    {"name": "B2", "shape": "rectangle", "size": [0.6, 0.6], "position": [4.5, 1.2, 2.75],
     "shader": {"intensity": 3000, "intensity_unit": 1, "cosine_distribution": true}},
    {"name": "C3", "shape": "disc", "radius": 0.1, "position": [2.5, 3.1, 2.75],
     "shader": {"intensity": 1000, "intensity_unit": 1, "cosine_distribution": true}},
    {"name": "D4", "position": [5.2, 3.4, 2.5], "shader": {"intensity": 200}},
    {"name": "E5", "shape": "disc", "radius": 0.1, "position": [0.7, 3.3, 2.75],
     "shader": {"intensity": 1000, "intensity_unit": 1, "cosine_distribution": true}}
  ],
  "occluders": [{"name": "desk", "shape": "box", "min": [2, 1.5, 0], "max": [3.6, 2.3, 0.72]}],
  "surfaces": [{"name": "work plane", "corner": [0, 0, 0.75], "u": [6, 0, 0], "v": [0, 4, 0],
                "spacing": "standard", "margin": 0.5,
                "targets": {"Em": 100, "U0": 0.99}}]
})";

class LuxPdfDesign : public LuxPdf {
 protected:
  fs::path design(const std::string& name, std::vector<std::string> extra = {},
                  const std::string& scene = kPlanScene) {
    std::ofstream(dir_ / "design.json") << scene;
    return run_pdf(dir_ / "design.json", name, std::move(extra));
  }
};

// The first page holds the whole title and the verdict table: each
// requirement with its target, result, margin and verdict, as the JSON
// report has them, and whether the design complies.
TEST_F(LuxPdfDesign, FirstPageHoldsTheVerdict) {
  const fs::path out = design("verdict");
  const std::string first = pdf_text(out / "report.pdf", 1, 1);
  // The whole title above the subtitle, over as many lines as it takes.
  const std::string title_block = first.substr(0, first.find("Lighting calculation report"));
  EXPECT_EQ(std::regex_replace(title_block, std::regex(R"(\s+)"), " "),
            "A lighting design for the plan and verdict tests, with a title long enough to need a "
            "second line on the page ")
      << first;
  const nlohmann::json json = nlohmann::json::parse(std::ifstream(out / "report.json"));
  const auto& requirements = json["compliance"]["requirements"];
  ASSERT_EQ(requirements.size(), 2u);
  const size_t verdict = first.find("Verdict");
  ASSERT_NE(verdict, std::string::npos) << first;
  size_t at = verdict;
  for (const auto& q : requirements) {
    const std::string row = row_after(first, "work plane", at);
    ASSERT_FALSE(row.empty()) << first;
    at = first.find(row, at) + row.size();
    const auto w = words(row);
    // "<quantity> ≥ <target> [lx] <value> [lx] <margin> pass|FAIL <source>"
    const std::string verdict_word = q["pass"].get<bool>() ? "pass" : "FAIL";
    EXPECT_NE(std::find(w.begin(), w.end(), verdict_word), w.end()) << row;
    char margin[32];
    std::snprintf(margin, sizeof margin, q["quantity"] == "U0" ? "%+.2f" : "%+.1f",
                  q["margin"].get<double>());
    EXPECT_NE(std::find(w.begin(), w.end(), margin), w.end()) << row << " lacks " << margin;
  }
  EXPECT_TRUE(requirements[0]["pass"].get<bool>());   // Ēm 100 lx
  EXPECT_FALSE(requirements[1]["pass"].get<bool>());  // U0 0.99
  EXPECT_NE(first.find("The design fails 1 of 2 requirements"), std::string::npos) << first;
}

// The plan draws each luminaire where the scene puts it: the labels' places
// on the page are the luminaires' x and y under one scale and shift (y up
// the page), whatever their shapes.
TEST_F(LuxPdfDesign, PlanDrawsTheLuminairesWhereTheScenePutsThem) {
  const fs::path out = design("plan");
  const int page = page_with(out / "report.pdf", "The room seen from above");
  ASSERT_GT(page, 0);
  const auto words_on_plan = pdf_words(out / "report.pdf", page);
  const std::map<std::string, std::pair<double, double>> placed{{"A1", {1.0, 1.0}},
                                                                {"B2", {4.5, 1.2}},
                                                                {"C3", {2.5, 3.1}},
                                                                {"D4", {5.2, 3.4}},
                                                                {"E5", {0.7, 3.3}}};
  std::map<std::string, Word> found;
  for (const Word& w : words_on_plan)
    if (placed.count(w.text) != 0) found.emplace(w.text, w);
  ASSERT_EQ(found.size(), placed.size());
  // x_page = a + s x, fitted by least squares over all labels.
  double sx = 0, sxx = 0, sp = 0, sxp = 0;
  for (const auto& [name, at] : placed) {
    const double x = at.first, px = found.at(name).cx();
    sx += x;
    sxx += x * x;
    sp += px;
    sxp += x * px;
  }
  const double n = double(placed.size());
  const double scale = (n * sxp - sx * sp) / (n * sxx - sx * sx);
  const double a = (sp - scale * sx) / n;
  EXPECT_GT(scale, 20.0) << "points per metre";
  for (const auto& [name, at] : placed)
    EXPECT_NEAR(found.at(name).cx(), a + scale * at.first, 1.0) << name;
  // Along y the same scale, the page's y running down: the labels sit a
  // fixed distance below their luminaires, the point light's a little
  // closer than the rectangles' and discs' (their symbols are larger).
  const double b = found.at("A1").cy() + scale * 1.0;
  for (const auto& [name, at] : placed) {
    const double expected = b - scale * at.second;
    const double tolerance = 0.35 * scale + 1;  // the symbols' half sizes
    EXPECT_NEAR(found.at(name).cy(), expected, tolerance) << name;
  }
  EXPECT_LT(found.at("C3").cy(), found.at("A1").cy()) << "y runs up the plan";
  // The desk's outline and the map's iso-lux labels are drawn with it:
  // the plan has numbers for its ticks beyond the labels.
  size_t numbers = 0;
  for (const Word& w : words_on_plan)
    if (!w.text.empty() && std::isdigit(static_cast<unsigned char>(w.text[0]))) ++numbers;
  EXPECT_GT(numbers, 8u);
}

// A title of 100,000 characters leaves the report as it is with a short
// one: as many pages, the verdict on the first, the title in four lines
// ending in an ellipsis, and every word on every page within the paper.
TEST_F(LuxPdfDesign, TitleOfAnyLengthKeepsTheLayout) {
  std::string title;
  for (int k = 0; title.size() < 100000; ++k) title += "Classroom" + std::to_string(k) + " ";
  title.resize(100000);
  std::string scene = kPlanScene;
  const size_t from = scene.find("\"title\": \"") + 10;
  scene.replace(from, scene.find('"', from) - from, title);
  const fs::path short_title = design("short");
  const fs::path long_title = design("long", {}, scene);
  const fs::path pdf = long_title / "report.pdf";
  const int pages = std::stoi(pdf_info(pdf, "Pages"));
  EXPECT_EQ(pages, std::stoi(pdf_info(short_title / "report.pdf", "Pages")));
  const std::string first = pdf_text(pdf, 1, 1);
  EXPECT_NE(first.find("The design fails 1 of 2 requirements"), std::string::npos) << first;
  EXPECT_NE(first.find("Classroom0 Classroom1"), std::string::npos);
  EXPECT_NE(first.find("\u2026"), std::string::npos) << "the title's end is cut";
  // The title's lines: the words above the report's subtitle.
  const auto on_first = pdf_words(pdf, 1);
  double subtitle = 0;
  for (const Word& w : on_first)
    if (w.text == "Lighting" && subtitle == 0) subtitle = w.y0;
  ASSERT_GT(subtitle, 0);
  std::set<long> title_lines;
  for (const Word& w : on_first)
    if (w.y1 < subtitle) title_lines.insert(std::lround(w.y0));
  EXPECT_EQ(title_lines.size(), lux::Document::kTitleLines);
  const double width = std::stod(words(pdf_info(pdf, "Page size"))[0]);
  for (int p = 1; p <= pages; ++p)
    for (const Word& w : pdf_words(pdf, p)) {
      EXPECT_GE(w.x0, lux::Document::kMargin - 1) << "page " << p << ": " << w.text;
      EXPECT_LE(w.x1, width - lux::Document::kMargin + 1) << "page " << p << ": " << w.text;
    }
}

// With --units fc every illuminance in the report is in footcandles and
// every length in feet: the summary and the area pages print the JSON
// report's (fc) numbers, the point tables the CSV's feet, and no "lx" or
// metre is left.
TEST_F(LuxPdfDesign, FootcandlesAndFeetEverywhere) {
  // Two named points on the work plane beside its grid, listed in metres.
  std::ofstream(dir_ / "seats.csv") << "x,y,z,nx,ny,nz,name\n"
                                       "2.8,1.2,0.75,0,0,1,seat A\n"
                                       "1.5,3.0,0.75,0,0,1,seat B\n";
  std::string scene = kPlanScene;
  scene.insert(scene.rfind('}'), R"(, "points": [{"name": "seats", "file": ")" +
                                     (dir_ / "seats.csv").string() + R"("}])");
  const fs::path out = design("fc", {"--units", "fc", "--point-tables"}, scene);
  const std::string all = pdf_text(out / "report.pdf");
  const nlohmann::json json = nlohmann::json::parse(std::ifstream(out / "report.json"));
  EXPECT_EQ(json["units"]["illuminance"], "fc");
  EXPECT_EQ(std::regex_search(all, std::regex(R"((^|[^/a-z])lx\b)")), false)
      << "an illuminance in lux is left";
  EXPECT_EQ(std::regex_search(all, std::regex(R"((^|\s)m(\s|$|²|\u00b2))")), false)
      << "a length in metres is left";
  EXPECT_NE(all.find("E avg fc"), std::string::npos);
  for (const auto& surface : json["surfaces"]) {
    const std::string name = surface["name"];
    const size_t page = all.find((surface["kind"] == "points" ? "Points: " : "Surface: ") + name);
    ASSERT_NE(page, std::string::npos) << name;
    const std::regex pattern(R"(E avg\s+([0-9]+\.[0-9])\s+fc)");
    std::smatch m;
    const std::string rest = all.substr(page);
    ASSERT_TRUE(std::regex_search(rest, m, pattern)) << name;
    EXPECT_NEAR(std::stod(m[1]), surface["fc"]["avg"].get<double>(), 0.05 + 1e-9) << name;
  }
  // The work plane's first grid point: its x in feet as the CSV has it.
  std::ifstream csv(out / "work-plane.csv");
  std::string header, first;
  std::getline(csv, header);
  std::getline(csv, first);
  std::istringstream cells(first);
  std::string i, j, x;
  std::getline(cells, i, ',');
  std::getline(cells, j, ',');
  std::getline(cells, x, ',');
  const size_t table = all.find("work plane: grid points");
  ASSERT_NE(table, std::string::npos);
  EXPECT_NE(all.find("in ft, illuminance E in footcandles", table), std::string::npos);
  const std::regex row(R"(\n\s*0\s+0\s+([0-9.]+)\s)");
  std::smatch m;
  const std::string rest = all.substr(table);
  ASSERT_TRUE(std::regex_search(rest, m, row));
  EXPECT_NEAR(std::stod(m[1]), std::stod(x), 0.01) << "the point's x in feet";

  // The point list: its CSV in feet and footcandles, and its page's table
  // with the same position and illuminance.
  std::ifstream seats(out / "seats.csv");
  std::getline(seats, header);
  EXPECT_NE(header.find(",x,y,z,"), std::string::npos) << header;
  EXPECT_NE(header.find("E_fc"), std::string::npos) << header;
  const size_t points_page = all.find("Points: seats");
  ASSERT_NE(points_page, std::string::npos);
  EXPECT_NE(all.find("Position ft", points_page), std::string::npos);
  for (const char* seat : {"seat A", "seat B"}) {
    std::string line;
    std::getline(seats, line);
    std::vector<std::string> cell;
    std::istringstream fields(line);
    for (std::string c; std::getline(fields, c, ',');) cell.push_back(c);
    ASSERT_GE(cell.size(), 9u) << line;
    EXPECT_EQ(cell[1], seat);
    EXPECT_NEAR(std::stod(cell[2]), (seat[5] == 'A' ? 2.8 : 1.5) / 0.3048, 1e-6);
    const std::regex printed(std::string(seat) +
                             R"(\s+\(([0-9.]+), [0-9.]+, [0-9.]+\).*\s([0-9]+\.[0-9])\s)");
    const std::string rest_of_page = all.substr(points_page);
    ASSERT_TRUE(std::regex_search(rest_of_page, m, printed)) << seat;
    EXPECT_NEAR(std::stod(m[1]), std::stod(cell[2]), 0.01) << seat;
    EXPECT_NEAR(std::stod(m[2]), std::stod(cell[8]), 0.05 + 1e-9) << seat;
  }
}

}  // namespace
