// A design checked against its targets: the built-in task table of the
// indoor workplace standard, targets read from the scene and resolved for
// each kind of area, the verdict of each requirement with its margin, and
// the corridor example's verdicts in the summary, the JSON report and the
// exit status, flipping when a target crosses the value reached.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "tests/lux_fixture.h"
#include "tests/lux_run.h"
#include "tools/lux/metrics/compliance.h"
#include "tools/lux/scene/tasks.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using zeltest::LuxTest;

// The table's entries by reference and by name, and what each kind of
// area takes from one: a task area Ēm and U0, walls and ceiling their own
// Ēm with U0 0.10, a cylindrical area Ēz with U0 0.10, an observer the
// UGR limit; nothing where the table states no figure.
TEST(LuxTasks, TableEntriesGiveEachKindOfAreaItsFigures) {
  ASSERT_NE(lux::find_task("6.36.1"), nullptr);
  EXPECT_EQ(lux::find_task("classroom"), lux::find_task("6.36.1"));
  EXPECT_EQ(lux::find_task("office"), lux::find_task("6.26.2"));
  EXPECT_EQ(lux::find_task("corridor"), lux::find_task("6.1.1"));
  EXPECT_EQ(lux::find_task("6.36"), nullptr);
  EXPECT_EQ(lux::find_task(""), nullptr);
  struct Case {
    const char* task;
    lux::AreaKind kind;
    std::optional<double> em, u0, ez, ugr;
  };
  const Case cases[] = {
      {"6.36.1", lux::AreaKind::Task, 500, 0.60, {}, {}},
      {"6.36.1", lux::AreaKind::Cylindrical, {}, 0.10, 150, {}},
      {"6.36.1", lux::AreaKind::Observer, {}, {}, {}, 19},
      {"6.36.1", lux::AreaKind::Wall, {}, {}, {}, {}},
      {"6.26.2", lux::AreaKind::Wall, 150, 0.10, {}, {}},
      {"6.26.2", lux::AreaKind::Ceiling, 100, 0.10, {}, {}},
      {"6.1.1", lux::AreaKind::Task, 100, 0.40, {}, {}},
      {"6.1.1", lux::AreaKind::Wall, 50, 0.10, {}, {}},
      {"6.1.1", lux::AreaKind::Ceiling, 30, 0.10, {}, {}},
      {"6.1.1", lux::AreaKind::Observer, {}, {}, {}, 28},
  };
  const auto value = [](const std::optional<lux::Target>& t) {
    return t ? std::optional<double>(t->value) : std::nullopt;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.task << " kind " << int(c.kind));
    const lux::Targets t = lux::targets_of(*lux::find_task(c.task), c.kind);
    EXPECT_EQ(value(t.em), c.em);
    EXPECT_EQ(value(t.u0), c.u0);
    EXPECT_EQ(value(t.ez), c.ez);
    EXPECT_EQ(value(t.ugr), c.ugr);
    for (const auto* target : {&t.em, &t.u0, &t.ez, &t.ugr})
      if (*target) {
        EXPECT_EQ((*target)->source, std::string("EN 12464-1:2021 ") + c.task);
      }
  }
}

// The immediate surrounding of a task area asks 500 lx around 750 and more,
// 300 around 500, 200 around 300, 150 around 200 and the task's own value
// below, with U0 0.40; the background a third of that, with U0 0.10.
TEST(LuxTasks, SurroundingAndBackgroundFollowTheTaskArea) {
  const struct {
    double task, surrounding;
  } rows[] = {{1500, 500}, {750, 500}, {700, 300}, {500, 300}, {400, 200},
              {300, 200},  {200, 150}, {150, 150}, {100, 100}, {50, 50}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.task);
    lux::Targets task;
    task.em = lux::Target{r.task, "scene"};
    const lux::Targets near = lux::surrounding_targets(task);
    ASSERT_TRUE(near.em && near.u0);
    EXPECT_DOUBLE_EQ(near.em->value, r.surrounding);
    EXPECT_DOUBLE_EQ(near.u0->value, 0.40);
    const lux::Targets far = lux::background_targets(near);
    ASSERT_TRUE(far.em && far.u0);
    EXPECT_DOUBLE_EQ(far.em->value, r.surrounding / 3);
    EXPECT_DOUBLE_EQ(far.u0->value, 0.10);
  }
  // A task area held only to a uniformity asks nothing of its bands.
  lux::Targets u0_only;
  u0_only.u0 = lux::Target{0.7, "scene"};
  EXPECT_TRUE(lux::surrounding_targets(u0_only).empty());
}

// A requirement is judged on the value as reported: an at-least target is
// met by a value rounding to it, missed by one rounding below; an at-most
// target the other way round; the margin is how far the value lies on the
// right side, and nothing in view passes a glare limit.
TEST(LuxVerdict, JudgedAsReportedWithTheMargin) {
  const struct {
    double target;
    std::optional<double> value;
    bool at_most;
    int decimals;
    bool pass;
    double margin;
  } cases[] = {
      {500, 523.14, false, 1, true, 23.1},    {500, 499.96, false, 1, true, 0.0},
      {500, 499.94, false, 1, false, -0.1},   {0.6, 0.595, false, 2, true, 0.0},
      {0.6, 0.5949, false, 2, false, -0.01},  {19, 19.04, true, 1, true, 0.0},
      {19, 19.06, true, 1, false, -0.1},      {19, 17.2, true, 1, true, 1.8},
      {19, std::nullopt, true, 1, true, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.target << " vs " << c.value.value_or(-1));
    const lux::Requirement r =
        lux::judge("area", "Em", {c.target, "scene"}, c.value, c.at_most, false, c.decimals);
    EXPECT_EQ(r.pass, c.pass);
    EXPECT_NEAR(r.margin, c.margin, 1e-9);
  }
}

// The scene's targets: a task named on a surface, figures that take the
// task's place, a room's task for its walls and ceiling (its floor left to
// its own targets), cylindrical areas and observers; and targets refused
// with the element and the key.
TEST(LuxTargets, ReadFromTheSceneForEachArea) {
  const char* text = R"({
    "lights": [{"name": "lamp", "position": [1, 1, 2]}],
    "room": {"size": [4, 3, 2.8], "targets": {"task": "corridor"},
             "faces": {"floor": {"targets": {"task": "6.1.1", "U0": 0.5}}}},
    "surfaces": [{"name": "desk", "corner": [0, 0, 0.7], "u": [2, 0, 0], "v": [0, 1, 0],
                  "spacing": 0.5, "targets": {"task": "office", "Em": 750},
                  "task_areas": [{"name": "paper", "corner": [0.5, 0.2, 0.7], "size": [0.4, 0.3],
                                  "targets": {"Em": 500}}]}],
    "cylindrical": [{"name": "room", "corner": [0, 0, 0], "u": [4, 0, 0], "v": [0, 3, 0],
                     "spacing": 1, "targets": {"task": "classroom"}}],
    "observers": [{"name": "seat", "position": [1, 1, 1.2], "directions": [[0, 1, 0]],
                   "targets": {"UGR": 16}}],
    "ugr": {"targets": {"task": "office"}}
  })";
  const lux::Scene s = lux::parse_scene(text, "test.json", ".");
  const auto face = [&](const std::string& name) -> const lux::SurfaceDesc& {
    for (const auto& f : s.surfaces)
      if (f.name == name) return f;
    throw std::runtime_error("no face " + name);
  };
  EXPECT_EQ(face("north wall").targets.em->value, 50);
  EXPECT_EQ(face("north wall").targets.u0->value, 0.10);
  EXPECT_EQ(face("ceiling").targets.em->value, 30);
  EXPECT_EQ(face("floor").targets.em->value, 100);
  EXPECT_EQ(face("floor").targets.u0->value, 0.5);
  EXPECT_EQ(face("floor").targets.u0->source, "scene");
  EXPECT_EQ(face("floor").targets.em->source, "EN 12464-1:2021 6.1.1");
  const lux::SurfaceDesc& desk = face("desk");
  EXPECT_EQ(desk.targets.em->value, 750);
  EXPECT_EQ(desk.targets.em->source, "scene");
  EXPECT_EQ(desk.targets.u0->value, 0.60);
  const lux::TaskAreaDesc& paper = desk.task_areas.at(0);
  EXPECT_EQ(paper.targets.em->value, 500);
  EXPECT_EQ(paper.surrounding_targets.em->value, 300);
  EXPECT_NEAR(paper.background_targets.em->value, 100, 1e-12);
  EXPECT_EQ(s.cylindrical.at(0).targets.ez->value, 150);
  EXPECT_EQ(s.observers.at(0).targets.ugr->value, 16);
  EXPECT_EQ(s.glare->targets.ugr->value, 19);

  const struct {
    const char* what;
    std::string targets;
    std::vector<std::string> named;
  } refused[] = {
      {"unknown task", R"({"task": "kitchen"})", {"surface \"f\"", "\"kitchen\"", "6.26.2 office"}},
      {"glare limit on a surface", R"({"UGR": 19})", {"surface \"f\"", "\"UGR\"", "Em, U0"}},
      {"uniformity above 1", R"({"U0": 1.2})", {"surface \"f\"", "\"U0\""}},
      {"no figure", R"({})", {"surface \"f\"", "no target"}},
      {"misspelt figure", R"({"Eavg": 300})", {"surface \"f\"", "\"Eavg\""}},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    const std::string scene =
        R"({"lights": [{"name": "lamp", "position": [0, 0, 2]}], "surfaces": [{"name": "f",
            "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 1, 0], "spacing": 0.5,
            "targets": )" +
        c.targets + "}]}";
    std::string message;
    try {
      lux::parse_scene(scene, "test.json", ".");
    } catch (const lux::Error& e) {
      message = e.what();
    }
    ASSERT_FALSE(message.empty()) << "not refused";
    for (const auto& piece : c.named)
      EXPECT_NE(message.find(piece), std::string::npos) << message << " lacks " << piece;
  }
  // A task with no figure for a wall, on a wall.
  std::string message;
  try {
    lux::parse_scene(R"({"lights": [{"name": "lamp", "position": [0, 0, 2]}],
      "surfaces": [{"name": "w", "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 0, 1],
                    "spacing": 0.5, "role": "reflecting", "targets": {"task": "classroom"}}]})",
                     "test.json", ".");
  } catch (const lux::Error& e) {
    message = e.what();
  }
  EXPECT_NE(message.find("gives no figure"), std::string::npos) << message;
}

// `text` as a regular expression that matches it literally.
std::string escaped(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// The text of a PDF's page as pdftotext lays it out; empty when poppler's
// tools are not installed.
std::string pdf_page(const fs::path& pdf, int number = 1) {
  std::string page;
  if (std::system("pdftotext -v >/dev/null 2>&1") != 0) return page;
  const std::string which = std::to_string(number);
  FILE* pipe = popen(
      ("pdftotext -layout -f " + which + " -l " + which + " '" + pdf.string() + "' -").c_str(),
      "r");
  if (pipe == nullptr) return page;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) page.append(buffer, n);
  pclose(pipe);
  return page;
}

// Each requirement of a run's JSON report in its summary (area, quantity
// and verdict on one row) and on its PDF's first page (area and verdict),
// with the overall verdict; the exit status under --strict says whether
// all pass.
void expect_verdicts_everywhere(const json& compliance, const LuxOutcome& run,
                                const fs::path& pdf) {
  ASSERT_TRUE(compliance.is_object());
  ASSERT_FALSE(compliance["requirements"].empty());
  for (const auto& q : compliance["requirements"]) {
    const std::string area = q["area"];
    const std::regex row(escaped(area) + R"(\s+)" + q["quantity"].get<std::string>() + R"(\s.*\s)" +
                         (q["pass"].get<bool>() ? "pass" : "FAIL"));
    EXPECT_TRUE(std::regex_search(run.out, row)) << area << " " << q["quantity"] << "\n" << run.out;
  }
  EXPECT_EQ(run.status, compliance["complies"].get<bool>() ? 0 : 1) << run.err;
  const std::string page = pdf_page(pdf);
  if (page.empty()) return;
  size_t passes = 0;
  for (const auto& q : compliance["requirements"]) {
    const std::regex row(escaped(q["area"].get<std::string>()) + R"(\s.*\s)" +
                         (q["pass"].get<bool>() ? "pass" : "FAIL") + R"(\s)");
    EXPECT_TRUE(std::regex_search(page, row)) << q["area"] << "\n" << page;
    passes += q["pass"].get<bool>() ? 1 : 0;
  }
  const size_t all = compliance["requirements"].size();
  EXPECT_NE(page.find(passes == all ? "The design meets all " + std::to_string(all)
                                    : "The design fails " + std::to_string(all - passes)),
            std::string::npos)
      << page;
}

// The examples run as a designer runs them: every requirement in the
// summary, the JSON report, the PDF and the exit status under --strict;
// moved across the value the corridor reaches, a target's verdict flips.
class LuxExamples : public LuxTest {
 protected:
  void SetUp() override {
    LuxTest::SetUp();
    dir_ = fs::temp_directory_path() / ("lux_compliance_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    LuxTest::TearDown();
  }
  // The corridor example with its floor area's targets replaced, run into
  // `name` (by default without interreflection, the floor area alone held
  // to targets); the example's profile is found beside it.
  LuxOutcome run(const std::string& name, const json& floor_targets, bool strict,
                 bool direct_only = true) {
    std::ifstream in(fs::path(ZEL_SOURCE_DIR) / "examples/corridor.json");
    json scene = json::parse(in, nullptr, true, /*ignore_comments=*/true);
    scene["profiles"][0]["file"] =
        (fs::path(ZEL_SOURCE_DIR) / "examples/profiles/corridor_downlight.ies").string();
    scene["surfaces"][0]["targets"] = floor_targets;
    // Without the interreflection the ceiling is dark: the quick runs hold
    // the floor area alone to its targets.
    if (direct_only) {
      scene["room"].erase("targets");
      scene["ugr"].erase("targets");
    }
    std::ofstream(dir_ / (name + ".json")) << scene.dump(2);
    std::vector<std::string> args{(dir_ / (name + ".json")).string(),
                                  "-o",
                                  (dir_ / name).string(),
                                  "-q",
                                  "-j",
                                  "2",
                                  "--no-pictures"};
    if (strict) args.push_back("--strict");
    if (direct_only) {
      args.push_back("--direct-only");
    } else if (std::system("pdftotext -v >/dev/null 2>&1") == 0) {
      args.push_back("--pdf");  // the report as a client reads it, where poppler can read it back
    }
    return run_lux(args);
  }
  // An example of examples/ with its profile found beside it, run into
  // `name` with `extra` arguments.
  LuxOutcome run_example(const std::string& example, const std::string& name,
                         const std::vector<std::string>& extra) {
    const fs::path examples = fs::path(ZEL_SOURCE_DIR) / "examples";
    std::ifstream in(examples / (example + ".json"));
    json scene = json::parse(in, nullptr, true, /*ignore_comments=*/true);
    for (auto& p : scene["profiles"])
      p["file"] = (examples / p["file"].get<std::string>()).string();
    std::ofstream(dir_ / (name + ".json")) << scene.dump(2);
    std::vector<std::string> args{(dir_ / (name + ".json")).string(),
                                  "-o",
                                  (dir_ / name).string(),
                                  "-q",
                                  "-j",
                                  "2",
                                  "--no-pictures"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_lux(args);
  }
  json report(const std::string& name) {
    return json::parse(std::ifstream(dir_ / name / "report.json"));
  }
  // The floor area's requirement on Ēm in a report.
  static json floor_em(const json& report) {
    for (const auto& q : report["compliance"]["requirements"])
      if (q["area"] == "floor area" && q["quantity"] == "Em") return q;
    return json();
  }
  fs::path dir_;
};

TEST_F(LuxExamples, VerdictsFlipWhenATargetCrossesTheValue) {
  const LuxOutcome first = run("as-given", {{"task", "corridor"}}, true, false);
  ASSERT_TRUE(fs::exists(dir_ / "as-given" / "report.json")) << first.err;
  const json r = report("as-given");
  const auto& c = r["compliance"];
  ASSERT_TRUE(c.is_object());
  EXPECT_EQ(c["task_table"], "EN 12464-1:2021");
  // The floor area's Ēm and U0, four walls' and the ceiling's Ēm and U0,
  // and the default observers' UGR.
  std::map<std::string, int> quantities;
  for (const auto& q : c["requirements"]) ++quantities[q["quantity"].get<std::string>()];
  EXPECT_EQ(quantities["Em"], 1 + 4 + 1);
  EXPECT_EQ(quantities["U0"], 1 + 4 + 1);
  EXPECT_EQ(quantities["UGR"], 4);
  // Each requirement in the summary, the PDF and the exit status.
  expect_verdicts_everywhere(c, first, dir_ / "as-given" / "report.pdf");

  for (const auto& q : c["requirements"])
    if (q["area"] == "floor area" && q["quantity"] == "Em") {
      EXPECT_GT(q["value"].get<double>(), 100.0) << "the example is designed to pass";
      for (const auto& s : r["surfaces"])
        if (s["name"] == "floor area") {
          EXPECT_NEAR(q["value"].get<double>(), s["lux"]["avg"].get<double>(), 1e-9);
        }
    }

  // The floor area's maintained average from the direct light alone (the
  // quicker run), as reported, and targets a tenth of a lux either side.
  const LuxOutcome direct = run("direct", {{"Em", 1}}, false);
  ASSERT_TRUE(fs::exists(dir_ / "direct" / "report.json")) << direct.err;
  const json direct_em = floor_em(report("direct"));
  ASSERT_TRUE(direct_em.is_object());
  const double reached = direct_em["value"];
  const double shown = std::round(reached * 10) / 10;
  for (const double target : {shown - 0.1, shown, shown + 0.1}) {
    SCOPED_TRACE(target);
    const bool passes = target <= shown;
    const LuxOutcome o = run("target", {{"Em", target}}, true);
    const json t = report("target");
    const json q = floor_em(t);
    ASSERT_TRUE(q.is_object());
    EXPECT_EQ(q["pass"].get<bool>(), passes);
    EXPECT_NEAR(q["margin"].get<double>(), shown - target, 1e-9);
    EXPECT_EQ(q["source"], "scene");
    // --strict fails the run exactly when a requirement fails.
    EXPECT_EQ(o.status, passes ? 0 : 1);
    EXPECT_EQ(t["compliance"]["complies"].get<bool>(), passes);
    if (!passes) {
      EXPECT_NE(o.err.find("fails"), std::string::npos) << o.err;
      EXPECT_NE(o.out.find("FAIL"), std::string::npos);
    }
  }
  // Without --strict a computed but failing design exits 0.
  const LuxOutcome lenient = run("lenient", {{"Em", shown + 50}}, false);
  EXPECT_EQ(lenient.status, 0) << lenient.err;
  EXPECT_FALSE(report("lenient")["compliance"]["complies"].get<bool>());
}

// The classroom example (its direct light, the quick run): the work
// plane's Ēm and U0, the pupils' Ēz and its uniformity at 1.2 m and the
// four customary observers' UGR, all from the table's classroom entry, with
// the values the report gives the areas.
TEST_F(LuxExamples, ClassroomStatesEveryRequirement) {
  const LuxOutcome run =
      run_example("classroom", "classroom", {"--direct-only", "--strict", "--pdf"});
  ASSERT_TRUE(fs::exists(dir_ / "classroom" / "report.json")) << run.err;
  const json r = report("classroom");
  const json& c = r["compliance"];
  ASSERT_EQ(c["requirements"].size(), 8u);
  std::vector<std::string> rows;
  for (const auto& q : c["requirements"]) {
    rows.push_back(q["area"].get<std::string>() + " " + q["quantity"].get<std::string>());
    EXPECT_EQ(q["source"], "EN 12464-1:2021 6.36.1");
  }
  const std::vector<std::string> expected{"work plane Em",
                                          "work plane U0",
                                          "pupils, 1.20 m Ez",
                                          "pupils, 1.20 m U0",
                                          "x-min wall, lengthwise UGR",
                                          "x-max wall, lengthwise UGR",
                                          "y-min wall, crosswise UGR",
                                          "y-max wall, crosswise UGR"};
  EXPECT_EQ(rows, expected);
  const auto& q = c["requirements"];
  EXPECT_EQ(q[0]["target"].get<double>(), 500);
  EXPECT_EQ(q[1]["target"].get<double>(), 0.6);
  EXPECT_EQ(q[2]["target"].get<double>(), 150);
  EXPECT_EQ(q[4]["target"].get<double>(), 19);
  bool found = false;
  for (const auto& s : r["surfaces"])
    if (s["name"] == "work plane") {
      found = true;
      EXPECT_NEAR(q[0]["value"].get<double>(), s["lux"]["avg"].get<double>(), 1e-9);
      EXPECT_NEAR(q[1]["value"].get<double>(), s["lux"]["min_over_avg"].get<double>(), 1e-9);
    }
  EXPECT_TRUE(found);
  expect_verdicts_everywhere(c, run, dir_ / "classroom" / "report.pdf");

  // The panels' file: maker, product and 26 W each, 312 W over the 63 m²
  // room, and per 100 lx of the work plane's Ēm; the schedule's products.
  for (const auto& light : r["lights"]) {
    const auto& file = light["luminaire"]["file"];
    EXPECT_EQ(file["manufacturer"], "zel_lumenfield");
    EXPECT_EQ(file["catalogue"], "ZL-CP1230-840");
    EXPECT_EQ(light["luminaire"]["power_w"].get<double>(), 26);
  }
  const auto& power = r["power"];
  EXPECT_DOUBLE_EQ(power["installed_w"].get<double>(), 12 * 26);
  ASSERT_EQ(power["areas"].size(), 1u);
  const auto& area = power["areas"][0];
  EXPECT_EQ(area["area"], "work plane");
  EXPECT_DOUBLE_EQ(area["area_m2"].get<double>(), 63);
  EXPECT_DOUBLE_EQ(area["w_per_m2"].get<double>(), 312.0 / 63);
  EXPECT_NEAR(area["w_per_m2_per_100lx"].get<double>(),
              312.0 / 63 / (q[0]["value"].get<double>() / 100), 1e-9);
  const std::string schedule = pdf_page(dir_ / "classroom" / "report.pdf", 2);
  if (!schedule.empty()) {
    EXPECT_TRUE(std::regex_search(
        schedule, std::regex(R"(T1\s+zel_lumenfield, Recessed panel.*4000 K\s+84\s+26\.0)")))
        << schedule;
  }
}

}  // namespace
