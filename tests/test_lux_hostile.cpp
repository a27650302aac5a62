// Scene and profile files written to break the calculator: each class of
// hostile input is refused with a message that says where and why, never
// crashes, wraps round or reads as darkness.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "refhost/profiles.h"
#include "tests/lux_fixture.h"
#include "tests/lux_run.h"
#include "tools/lux/scene/input_file.h"

namespace {

namespace fs = std::filesystem;
using zeltest::LuxTest;

struct Refused {
  const char* what;
  std::string text;
  std::vector<std::string> named;  // pieces the message must contain
};

void expect_named(const std::string& message, const Refused& c) {
  ASSERT_FALSE(message.empty()) << c.what << ": not refused";
  for (const auto& piece : c.named)
    EXPECT_NE(message.find(piece), std::string::npos)
        << c.what << ": \"" << message << "\" does not name " << piece;
}

const char* kLight = R"("lights": [{"name": "lamp", "position": [0, 0, 2]}])";
const char* kSurface =
    R"("surfaces": [{"name": "floor", "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 1, 0], "spacing": 0.5}])";

// A scene whose line 2 is `first`, then the lights and the surface.
std::string scene_with(const std::string& first, const std::string& lights = kLight) {
  return "{\n" + first + ",\n" + lights + ",\n" + kSurface + "\n}\n";
}

std::string lamp_with(const std::string& shader) {
  return scene_with(
      R"("title": "t")",
      R"("lights": [{"name": "lamp", "position": [0, 0, 2], "shader": )" + shader + "}]");
}

// Faults of the text itself: nesting, repeated keys, numbers no double
// holds. Each is named by file:line:column.
TEST(LuxHostileSyntax, NestingRepeatedKeysAndHugeNumbersAreNamedByPlace) {
  const std::string deep = std::string(50000, '[') + std::string(50000, ']');
  const Refused cases[] = {
      {"values nested 50000 deep", scene_with("\"title\": " + deep), {"test.json:2:", "nest"}},
      {"a key twice",
       "{\n\"samples\": 0,\n\"samples\": 4,\n" + std::string(kLight) + ",\n" + kSurface + "\n}",
       {"test.json:3:1:", "\"samples\"", "lines 2 and 3"}},
      {"a key twice in a shader object",
       lamp_with("{\"intensity\": 1,\n \"intensity\": 2}"),
       {"test.json:4:", "\"intensity\"", "lines 3 and 4"}},
      {"a key twice, once written with an escape",
       scene_with("\"title\": \"a\",\n\"\\u0074itle\": \"b\""),
       {"test.json:3:1:", "\"title\"", "lines 2 and 3"}},
      {"a number beyond double range", scene_with("\"samples\":\n   1e400"), {"test.json:3:4:"}},
      {"a negative number beyond double range",
       lamp_with("{\"intensity\": -1e400}"),
       {"test.json:3:", "-1e400"}},
  };
  for (const Refused& c : cases)
    expect_named(refusal([&] { lux::parse_scene(c.text, "test.json", "."); }), c);
  // The same key in different objects, and nesting a scene needs, are fine.
  EXPECT_NO_THROW(
      lux::parse_scene(scene_with(R"("samples": 8)",
                                  R"("lights": [{"name": "a", "position": [0, 0, 2], "samples": 8},
                               {"name": "b", "position": [1, 0, 2], "samples": 8}])"),
                       "test.json", "."));
}

// Whole numbers are checked against their range before they are converted:
// none wraps round to a small value, and the message gives the limits.
TEST_F(LuxTest, HostileWholeNumbersAreRefusedWithTheirLimits) {
  const std::string view =
      R"("view": {"position": [3, 0, 1], "look_at": [0, 0, 0], "width": 4294967300})";
  const Refused read_cases[] = {
      {"scene samples of 2^32 + 4", scene_with(R"("samples": 4294967300)"), {"\"samples\"", "1"}},
      {"picture width of 2^32 + 4", scene_with(view), {"view", "\"width\"", "8192"}},
      {"light samples of 2^64 - 1",
       scene_with(
           R"("title": "t")",
           R"("lights": [{"name": "l", "position": [0, 0, 2], "samples": 18446744073709551615}])"),
       {"light \"l\"", "\"samples\"", "1048576"}},
      {"scene samples of 0", scene_with(R"("samples": 0)"), {"\"samples\"", "between 1 and"}},
      {"scene samples of -2^63", scene_with(R"("samples": -9223372036854775808)"), {"\"samples\""}},
  };
  for (const Refused& c : read_cases)
    expect_named(refusal([&] { lux::parse_scene(c.text, "test.json", "."); }), c);
  const Refused shader_cases[] = {
      {"integer field of 2^64 - 1",
       lamp_with(R"({"intensity_unit": 18446744073709551615})"),
       {"light \"lamp\"", "\"intensity_unit\"", "2147483647"}},
      {"integer field of 2^32 + 1",
       lamp_with(R"({"intensity_unit": 4294967297})"),
       {"light \"lamp\"", "\"intensity_unit\""}},
      {"integer field below the range",
       lamp_with(R"({"profile_orientation": -2147483649})"),
       {"light \"lamp\"", "\"profile_orientation\""}},
  };
  for (const Refused& c : shader_cases) expect_named(refusal([&] { build(c.text); }), c);
}

// A value that overflows single precision in the shaders would become
// infinite and the light's numbers nonsense (it read as 0 lx): refused.
TEST_F(LuxTest, HostileValuesBeyondSinglePrecisionAreRefused) {
  const Refused cases[] = {
      {"colour component 1e39",
       lamp_with(R"({"color": [1e39, 1, 1]})"),
       {"light \"lamp\"", "\"color\"", "single precision"}},
      {"output scale colour -1e39",
       lamp_with(R"({"output_scale_color": [1, -1e39, 1]})"),
       {"light \"lamp\"", "\"output_scale_color\""}},
      {"scalar 1e39", lamp_with(R"({"intensity": 1e39})"), {"light \"lamp\"", "\"intensity\""}},
  };
  for (const Refused& c : cases) expect_named(refusal([&] { build(c.text); }), c);
  // The largest single-precision value itself is allowed.
  EXPECT_NO_THROW(build(lamp_with(R"({"color": [3.4e38, 1, 1]})")));
}

class LuxHostileFiles : public LuxTest {
 protected:
  void SetUp() override {
    LuxTest::SetUp();
    dir_ = fs::temp_directory_path() / ("lux_hostile_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    LuxTest::TearDown();
  }
  fs::path write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return dir_ / name;
  }
  std::string with_profile(const fs::path& file) {
    return scene_with(
        R"("profiles": [{"name": "p", "file": ")" + file.string() + "\"}]",
        R"("lights": [{"name": "lamp", "position": [0, 0, 2], "shader": {"use_profile": true, "profile_name": "p"}}])");
  }
  fs::path dir_;
};

// Inputs that are not regular files (a folder, a device, a FIFO) or are
// larger than any real one are refused before they are read.
TEST_F(LuxHostileFiles, InputsAreBoundedAndMustBeRegularFiles) {
  const fs::path folder = dir_ / "folder.json";
  fs::create_directories(folder);
  const fs::path fifo = dir_ / "pipe.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const fs::path big = dir_ / "big.json";
  { std::ofstream(big) << "{"; }
  fs::resize_file(big, lux::kMaxInputBytes + 1);
  struct Case {
    const char* what;
    fs::path path;
    const char* named;
  };
  const Case cases[] = {
      {"a folder", folder, "not a regular file"},
      {"a device", "/dev/null", "not a regular file"},
      {"a FIFO", fifo, "not a regular file"},
      {"a file of 16 MiB and a byte", big, "larger than 16 MiB"},
  };
  for (const Case& c : cases)
    expect_named(refusal([&] { lux::load_scene(c.path); }),
                 {c.what, "", {c.path.string(), c.named}});
  // Profiles: a folder is not a regular file, not a file "larger than 16 MiB".
  expect_named(refusal([&] { build(with_profile(folder)); }),
               {"profile folder", "", {"profile \"p\"", "not a regular file"}});
  // Standard input is bounded too.
  std::istringstream huge(std::string(lux::kMaxInputBytes + 1, ' '));
  expect_named(refusal([&] { lux::read_bounded(huge, "standard input", "the scene"); }),
               {"long standard input", "", {"standard input", "16 MiB"}});
}

// "-" reads the scene from standard input.
TEST(LuxHostileStdin, DashReadsTheSceneFromStandardInput) {
  std::istringstream text(scene_with(R"("title": "piped")"));
  std::streambuf* const saved = std::cin.rdbuf(text.rdbuf());
  lux::Scene scene;
  const std::string error = refusal([&] { scene = lux::load_scene("-"); });
  std::cin.rdbuf(saved);
  ASSERT_EQ(error, "");
  EXPECT_EQ(scene.title, "piped");
  EXPECT_EQ(scene.file, "standard input");
  std::istringstream broken("{\n\"title\": }");
  std::cin.rdbuf(broken.rdbuf());
  const std::string message = refusal([&] { lux::load_scene("-"); });
  std::cin.rdbuf(saved);
  EXPECT_EQ(message.rfind("standard input:2:", 0), 0u) << message;
}

// A light that takes a profile must find it: a name that is no profile of
// the scene, or none at all, is an error naming the light and the profile.
TEST_F(LuxTest, HostileLightWithoutItsProfileIsAnError) {
  const Refused cases[] = {
      {"profile name of no profile",
       lamp_with(R"({"use_profile": true, "profile_name": "nowhere"})"),
       {"test.json", "light \"lamp\"", "\"nowhere\""}},
      {"profile on, no name", lamp_with(R"({"use_profile": true})"), {"light \"lamp\"", "profile"}},
  };
  for (const Refused& c : cases) expect_named(refusal([&] { build(c.text); }), c);
}

std::string profile_problem(const fs::path& file) {
  refhost::ProfileTable table;
  std::string problem;
  if (refhost::read_profile_file(file.string(), 1, table, problem)) return "";
  return problem;
}

// Photometric files: a TILT block shorter or longer than its count is
// blamed on the TILT block, and values that overflow single precision once
// multiplied are refused with their line.
TEST_F(LuxHostileFiles, ProfileTiltBlocksAndOverflowingValuesAreNamed) {
  const std::string header = "IESNA:LM-63-2002\n[TEST] x\n";
  const std::string body = "1 1000 MULT 3 1 1 2 0.1 0.1 0\n1 1 100\n0 45 90\n0\nV1 100 50\n";
  const auto ies = [&](const std::string& tilt, const std::string& mult, const std::string& v1) {
    std::string b = body;
    b.replace(b.find("MULT"), 4, mult);
    b.replace(b.find("V1"), 2, v1);
    return header + tilt + b;
  };
  ASSERT_EQ(profile_problem(write("good.ies", ies("TILT=NONE\n", "1", "100"))), "");
  ASSERT_EQ(profile_problem(
                write("tilted.ies", ies("TILT=INCLUDE\n1\n3\n0 45 90\n1 0.9 0.8\n", "1", "100"))),
            "");
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> named;
  };
  const Case cases[] = {
      {"TILT block a pair short", ies("TILT=INCLUDE\n1\n3\n0 45\n1 0.9\n", "1", "100"), {"tilt"}},
      {"TILT block a pair long",
       ies("TILT=INCLUDE\n1\n2\n0 45 90\n1 0.9 0.8\n", "1", "100"),
       {"TILT block", "more values"}},
      {"values times multiplier beyond single precision",
       ies("TILT=NONE\n", "1e10", "1e30"),
       {":8:", "single precision"}},
  };
  for (const Case& c : cases) {
    const std::string problem = profile_problem(write("bad.ies", c.text));
    ASSERT_FALSE(problem.empty()) << c.what;
    for (const auto& piece : c.named)
      EXPECT_NE(problem.find(piece), std::string::npos) << c.what << ": " << problem;
  }
}

}  // namespace
