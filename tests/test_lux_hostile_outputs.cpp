// The output folder under failures, interruptions and leftovers: it holds
// exactly one run's complete results, the new ones or the previous ones
// untouched, and nothing else of ours.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <tuple>

#include "tests/lux_fixture.h"
#include "tests/lux_run.h"
#include "tools/lux/cli/cli.h"
#include "tools/lux/model/budget.h"
#include "tools/lux/report/outputs.h"
#include "tools/lux/report/picture.h"

namespace {

namespace fs = std::filesystem;
using zeltest::LuxTest;

// Every file under `dir` with its contents, by path relative to `dir`.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  if (!fs::exists(dir)) return files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    files[fs::relative(e.path(), dir).string()] = text.str();
  }
  return files;
}

// Entries beside `dir` that runs of ours make while they write.
std::vector<std::string> siblings_of_ours(const fs::path& dir) {
  std::vector<std::string> found;
  const std::string prefix = "." + dir.filename().string() + ".zel-lux-";
  for (const auto& e : fs::directory_iterator(dir.parent_path()))
    if (e.path().filename().string().rfind(prefix, 0) == 0)
      found.push_back(e.path().filename().string());
  return found;
}

class LuxHostileOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("lux_outputs_" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    dir_ = root_ / "run";
  }
  void TearDown() override { fs::remove_all(root_); }
  void commit(const std::vector<std::pair<std::string, std::string>>& files) {
    lux::OutputSet set(dir_);
    for (const auto& [name, text] : files) set.write_text(name, text);
    set.commit();
  }
  fs::path root_, dir_;
};

// A run that succeeds leaves exactly its own files: those of an earlier run
// with other surfaces are gone. One that fails leaves the earlier ones.
TEST_F(LuxHostileOutputs, TheFolderHoldsOneRunWholeOrThePreviousUntouched) {
  commit({{"a.csv", "1\n"}, {"a.png", "png"}, {"report.json", "{}\n"}});
  commit({{"b.csv", "2\n"}, {"report.json", "{\"b\": 1}\n"}});
  const std::map<std::string, std::string> second = {{"b.csv", "2\n"},
                                                     {"report.json", "{\"b\": 1}\n"},
                                                     {lux::kManifestName, "b.csv\nreport.json\n"}};
  EXPECT_EQ(snapshot(dir_), second);
  {
    lux::OutputSet failing(dir_);
    failing.write_text("c.csv", "3\n");
    failing.write_text("report.json", "{\"c\": 1}\n");
  }  // not committed: a failure part-way
  EXPECT_EQ(snapshot(dir_), second);
  EXPECT_TRUE(siblings_of_ours(dir_).empty());
  // A file in the way of a commit (a folder named like a result, say) makes
  // it fail before anything changes.
  fs::create_directories(dir_ / "notes");
  std::ofstream(dir_ / "notes" / "mine.txt") << "keep";
  {
    lux::OutputSet blocked(dir_);
    blocked.write_text("report.json", "{}\n");
    const std::string error = [&] {
      try {
        blocked.commit();
      } catch (const lux::Error& e) {
        return std::string(e.what());
      }
      return std::string();
    }();
    EXPECT_NE(error.find("\"notes\""), std::string::npos) << error;
  }
  auto with_notes = second;
  with_notes["notes/mine.txt"] = "keep";
  EXPECT_EQ(snapshot(dir_), with_notes);
  EXPECT_TRUE(siblings_of_ours(dir_).empty());
}

// Only the folder's list of a run's files says what is ours. A folder that
// has none holds nothing of ours, whatever its files are called: a
// report.json beside a user's thesis and data is not taken for old results,
// and the run is refused before anything in the folder changes.
TEST_F(LuxHostileOutputs, AFolderWithoutOurListIsNeverEmptied) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> files;
  };
  const Case cases[] = {
      {"a report beside a thesis and its data",
       {{"report.json", "{}\n"}, {"thesis.pdf", "%PDF"}, {"data.csv", "1,2\n"}}},
      {"a lone report.json", {{"report.json", "{}\n"}}},
      {"a hidden file named like an old temporary", {{".notes.tmp12", "mine"}}},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const auto& [name, text] : c.files) std::ofstream(dir_ / name) << text;
    lux::OutputSet set(dir_);
    set.write_text("report.json", "{\"new\": 1}\n");
    set.write_text("a.csv", "3\n");
    std::string error;
    try {
      set.commit();
    } catch (const lux::Error& e) {
      error = e.what();
    }
    EXPECT_NE(error.find("no run of zel-lux wrote"), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(snapshot(dir_), c.files) << c.what;
  }
  // An empty folder is the user's choice of an output folder: it is used.
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  commit({{"report.json", "{}\n"}});
  EXPECT_EQ(snapshot(dir_).count("report.json"), 1u);
}

// A map of an area whose cells have no size or an infinite one (a task area
// of 1e-300, a grid over a surface beyond double range) is drawn from its
// cell counts: nothing is read outside the values, and the PNG is whole.
TEST_F(LuxHostileOutputs, MapsOfCellsWithoutAFiniteSizeAreDrawn) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    double du, dv;
    bool polygon;
  };
  const Case cases[] = {
      {"cells of no width", 0, 0.5, false},
      {"cells of no size at all", 0, 0, false},
      {"cells of infinite width", inf, 0.5, false},
      {"subnormal cells beside ordinary ones", 1e-310, 1, false},
      {"cells of no width in a polygon area", 0, 0.5, true},
      {"cells of infinite height in a polygon area", 0.5, inf, true},
  };
  for (const Case& c : cases) {
    lux::SurfaceResult r;
    r.name = c.what;
    r.grid.nu = 3;
    r.grid.nv = 2;
    r.grid.du = c.du;
    r.grid.dv = c.dv;
    r.grid.points.assign(6, lux::Vec3{});
    r.grid.state.assign(6, lux::PointState::Counted);
    if (c.polygon) {
      r.grid.outline = {{{0, 0}, {1, 0}, {0, 1}}};
      r.grid.inside = {1, 1, 0, 1, 0, 0};
    }
    r.lux = {1, 2, 3, 4, 5, 6};
    r.stats.min = 1;
    r.stats.avg = 3.5;
    r.stats.max = 6;
    const fs::path png = root_ / "map.png";
    fs::remove(png);
    lux::write_false_colour(r, "m", png, 120);
    std::ifstream in(png, std::ios::binary);
    std::string head(8, '\0');
    in.read(head.data(), 8);
    EXPECT_EQ(head, "\x89PNG\r\n\x1a\n") << c.what;
  }
}

// What killed runs left is removed by the next run: the fresh folders of
// processes that no longer exist, and temporaries of the older naming.
TEST_F(LuxHostileOutputs, LeftoversOfInterruptedRunsAreRemoved) {
  commit({{"report.json", "{}\n"}});
  const std::string gone = std::to_string(4194305);  // above any process number
  fs::create_directories(root_ / (".run.zel-lux-new." + gone));
  std::ofstream(root_ / (".run.zel-lux-new." + gone) / "big.csv") << "x";
  fs::create_directories(root_ / (".run.zel-lux-old." + gone));
  std::ofstream(dir_ / ".report.json.tmp12345") << "half";
  // A folder of another name and a live process's folder are not ours to take.
  fs::create_directories(root_ / ".other.zel-lux-new.1");
  fs::create_directories(root_ / (".run.zel-lux-new." + std::to_string(getppid())));
  commit({{"report.json", "{\"new\": 1}\n"}});
  const std::vector<std::string> expected = {".run.zel-lux-new." + std::to_string(getppid())};
  EXPECT_EQ(siblings_of_ours(dir_), expected);
  EXPECT_TRUE(fs::exists(root_ / ".other.zel-lux-new.1"));
  EXPECT_FALSE(fs::exists(dir_ / ".report.json.tmp12345"));
}

// Errors while a file is written name the output file, not its temporary.
TEST_F(LuxHostileOutputs, WriteErrorsNameTheOutputFile) {
  lux::OutputSet set(dir_);
  try {
    set.write_file("map.png", [](const fs::path& temp) {
      throw lux::Error(temp.string() + ": cannot write the picture: out of space");
    });
    FAIL() << "the error was swallowed";
  } catch (const lux::Error& e) {
    const std::string text = e.what();
    EXPECT_EQ(text.rfind((dir_ / "map.png").string() + ": cannot write the picture", 0), 0u)
        << text;
    EXPECT_EQ(text.find("zel-lux-new"), std::string::npos) << text;
  }
}

const char* kGridScene = R"({
  "samples": 1,
  "lights": [{"name": "lamp", "position": [0.5, 0.5, 2]}],
  "surfaces": [
    {"name": "a", "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 1, 0], "spacing": SPACING},
    {"name": "b", "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 1, 0], "spacing": SPACING},
    {"name": "c", "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 1, 0], "spacing": SPACING}]
})";

std::string grid_scene(const std::string& spacing) {
  std::string s = kGridScene;
  for (auto at = s.find("SPACING"); at != std::string::npos; at = s.find("SPACING"))
    s.replace(at, 7, spacing);
  return s;
}

// A zel-lux process killed by SIGINT or SIGTERM while it writes its results
// leaves the output folder as it was and no temporaries; it ends by the
// signal. The signal is sent as soon as the fresh folder appears.
TEST_F(LuxHostileOutputs, KilledWhileWritingLeavesTheFolderAsItWas) {
  const fs::path binary = fs::path(ZEL_BINARY_DIR) / "tools" / "zel-lux";
  ASSERT_TRUE(fs::exists(binary)) << binary;
  const fs::path scene = root_ / "grid.json";
  std::ofstream(scene) << grid_scene("0.008");  // 3 x 15625 points
  commit({{"report.json", "{\"before\": 1}\n"}, {"old.csv", "1\n"}});
  const auto before = snapshot(dir_);
  int caught = 0;
  for (const int signal_number : {SIGTERM, SIGINT, SIGTERM, SIGINT}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(binary.c_str(), "zel-lux", scene.c_str(), "-o", dir_.c_str(), "-q", "-j", "1",
            "--no-pictures", static_cast<char*>(nullptr));
      _exit(127);
    }
    bool sent = false;
    int status = 0;
    for (;;) {
      if (waitpid(child, &status, WNOHANG) == child) break;
      if (!sent && !siblings_of_ours(dir_).empty()) {
        kill(child, signal_number);
        sent = true;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_TRUE(siblings_of_ours(dir_).empty());
    if (!sent) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      continue;  // finished before the folder was seen
    }
    ++caught;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    const auto after = snapshot(dir_);
    // Either the signal came before the swap (nothing changed) or just
    // after it (the new results, whole).
    if (after != before) {
      EXPECT_EQ(after.count("old.csv"), 0u);
      EXPECT_EQ(after.count("a.csv") + after.count("b.csv") + after.count("c.csv"), 3u);
    }
    // Leave the previous results in place for the next attempt.
    fs::remove_all(dir_);
    commit({{"report.json", "{\"before\": 1}\n"}, {"old.csv", "1\n"}});
  }
  EXPECT_GT(caught, 0) << "no run was caught while writing";
}

// The cost of a run is reckoned from the scene before anything is
// allocated; a run beyond the bound is refused with the figure.
TEST_F(LuxTest, HostileWorkBeyondTheBoundsIsRefusedWithTheFigure) {
  // The estimate counts the grid points exactly as the grid lays them out.
  const lux::Scene small = lux::parse_scene(grid_scene("0.07"), "test.json", ".");
  uint64_t points = 0;
  for (const auto& s : small.surfaces) points += lux::make_grid(s).points.size();
  const lux::WorkEstimate w = lux::estimate_work(small, 0, false);
  EXPECT_EQ(w.points, points);
  EXPECT_EQ(w.samples, double(points));  // one light, one sample
  // 4 million points and 400 lights: about 13 GB of per-light values.
  std::string lights = "[";
  for (int l = 0; l < 400; ++l)
    lights += std::string(l ? "," : "") + "{\"name\": \"l" + std::to_string(l) +
              "\", \"position\": [0, 0, 2]}";
  std::string big = grid_scene("0.0005");
  const std::string one = R"([{"name": "lamp", "position": [0.5, 0.5, 2]}])";
  big.replace(big.find(one), one.size(), lights + "]");
  const lux::Scene huge = lux::parse_scene(big, "test.json", ".");
  const lux::WorkEstimate h = lux::estimate_work(huge, 0, false);
  EXPECT_EQ(h.points, 3u * 2000u * 2000u);
  EXPECT_GT(h.bytes, 3u * 4000000u * 400u * 8u);
  std::string message;
  try {
    lux::check_work(h, uint64_t(8) << 30);
  } catch (const lux::Error& e) {
    message = e.what();
  }
  EXPECT_NE(message.find(lux::gigabytes(h.bytes)), std::string::npos) << message;
  EXPECT_NE(message.find("--max-memory"), std::string::npos) << message;
  EXPECT_NO_THROW(lux::check_work(w, uint64_t(1) << 30));
  // Light samples are bounded too.
  EXPECT_THROW(lux::check_work(lux::estimate_work(huge, 1 << 20, false), ~uint64_t(0)), lux::Error);
}

// The command line: a run beyond --max-memory writes nothing; --version
// names the calculator's version and each shader's, as the plug-in says.
TEST_F(LuxHostileOutputs, CommandLineBoundsAndVersion) {
  const fs::path scene = root_ / "grid.json";
  std::ofstream(scene) << grid_scene("0.01");
  const LuxOutcome refused =
      run_lux({scene.string(), "-o", dir_.string(), "-q", "--max-memory", "0.001"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("grid.json"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("--max-memory"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(dir_));
  EXPECT_TRUE(siblings_of_ours(dir_).empty());

  const LuxOutcome version = run_lux({"--version"});
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out.rfind(std::string("zel-lux ") + ZEL_PROJECT_VERSION + "\n", 0), 0u)
      << version.out;
  for (const char* shader : {"zel_lumenfield 1", "zel_lightprofile 1", "zel_light_object 1"})
    EXPECT_NE(version.out.find(shader), std::string::npos) << version.out;
}

// Beyond a few dozen lights a run keeps each light's average, not its
// value at every point: memory stays points + rows × lights. The averages
// are the same either way, and they add up to the direct light.
TEST_F(LuxHostileOutputs, ManyLightsKeepTheirAveragesOnly) {
  const auto header_and_avgs = [&](const std::vector<std::string>& extra) {
    const fs::path scene = root_ / "array.json";
    std::ofstream(scene) << R"({"samples": 1, "lights": [{"name": "p", "position": [0.1, 0.1, 2],
      "array": {"rows": 6, "columns": 6, "spacing": [0.15, 0.15]}}],
      "surfaces": [{"name": "a", "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 1, 0],
      "spacing": 0.25}]})";
    std::vector<std::string> args{scene.string(), "-o", dir_.string(), "-q", "--no-pictures"};
    args.insert(args.end(), extra.begin(), extra.end());
    const LuxOutcome run = run_lux(args);
    EXPECT_EQ(run.status, 0) << run.err;
    std::ifstream csv(dir_ / "a.csv");
    std::string header;
    std::getline(csv, header);
    const auto report = nlohmann::json::parse(std::ifstream(dir_ / "report.json"));
    const auto& area = report["surfaces"][0];
    std::vector<double> avgs;
    for (const auto& [name, value] : area["avg_lux_by_light"].items()) avgs.push_back(value);
    // Mean of each light's column over the rows, when the columns are there.
    std::vector<double> column_means;
    size_t rows = 0;
    for (std::string line; std::getline(csv, line); ++rows) {
      std::vector<double> cells;
      std::stringstream fields(line);
      for (std::string f; std::getline(fields, f, ',');)
        cells.push_back(f.empty() ? 0 : std::stod(f));
      column_means.resize(cells.size() > 9 ? cells.size() - 9 : 0, 0.0);
      for (size_t l = 0; l < column_means.size(); ++l) column_means[l] += cells[8 + l];
    }
    for (double& m : column_means) m /= double(rows);
    return std::tuple{header, avgs, column_means, area["lux"]["avg"].get<double>()};
  };
  const auto [lean_header, lean, no_columns, avg] = header_and_avgs({});
  EXPECT_EQ(lean_header, "i,j,x,y,z,E_lux,E_direct_lux,E_interreflected_lux,MF");
  EXPECT_TRUE(no_columns.empty());
  ASSERT_EQ(lean.size(), 36u);
  double sum = 0;
  for (double a : lean) sum += a;
  EXPECT_NEAR(sum, avg, 1e-9 * avg);

  const auto [full_header, full, columns, full_avg] = header_and_avgs({"--light-columns"});
  EXPECT_NE(full_header.find(",\"E_p[6,6]\",MF"), std::string::npos) << full_header;
  EXPECT_EQ(full, lean);
  EXPECT_EQ(full_avg, avg);
  ASSERT_EQ(columns.size(), 36u);
  for (size_t l = 0; l < columns.size(); ++l) EXPECT_NEAR(columns[l], lean[l], 1e-6 * lean[l]) << l;

  // The estimate follows: without the columns, 3 × 4 million points and
  // 400 lights cost what the points themselves cost, less than a tenth of
  // what their columns would.
  std::string lights = "[";
  for (int l = 0; l < 400; ++l)
    lights += std::string(l ? "," : "") + "{\"name\": \"l" + std::to_string(l) +
              "\", \"position\": [0, 0, 2]}";
  std::string big = grid_scene("0.0005");
  const std::string one = R"([{"name": "lamp", "position": [0.5, 0.5, 2]}])";
  big.replace(big.find(one), one.size(), lights + "]");
  const lux::Scene huge = lux::parse_scene(big, "test.json", ".");
  EXPECT_FALSE(lux::keeps_light_columns(huge.lights.size(), false));
  const uint64_t without = lux::estimate_work(huge, 0, false, false).bytes;
  const uint64_t with = lux::estimate_work(huge, 0, false, true).bytes;
  EXPECT_LT(without, with / 10);
  EXPECT_GE(with - without, 3u * 4000000u * 400u * 8u);
}

}  // namespace
