// Scene files the calculator refuses: every message names the file and the
// line or the element and field at fault.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/lux_fixture.h"
#include "tests/lux_run.h"

namespace {

using json = nlohmann::json;
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

std::string scene_with(const std::string& lights, const std::string& extra = "") {
  return "{\n" + lights + ",\n" + kSurface + (extra.empty() ? "" : ",\n" + extra) + "\n}\n";
}

// Errors found while reading the file: its syntax, its keys, its values.
TEST_F(LuxTest, SceneFileErrorsNameFileAndLineOrField) {
  const Refused cases[] = {
      {"syntax error on line 3", "{\n  \"title\": \"x\",\n  \"lights\": [ }\n", {"test.json:3:"}},
      {"trailing comma on line 2", "{\"title\": \"x\",\n}\n", {"test.json:2:"}},
      {"unknown top-level key", scene_with(kLight, R"("lihgts": [])"), {"test.json", "\"lihgts\""}},
      {"misspelt light key",
       scene_with(R"("lights": [{"name": "lamp", "positon": [0, 0, 2]}])"),
       {"test.json", "light \"lamp\"", "\"positon\""}},
      {"light without position",
       scene_with(R"("lights": [{"name": "lamp"}])"),
       {"light \"lamp\"", "\"position\""}},
      {"position of two numbers",
       scene_with(R"("lights": [{"name": "lamp", "position": [0, 2]}])"),
       {"light \"lamp\"", "\"position\""}},
      {"light without name",
       scene_with(R"("lights": [{"position": [0, 0, 2]}])"),
       {"light 1", "\"name\""}},
      {"spot without cone",
       scene_with(R"("lights": [{"name": "s", "type": "spot", "position": [0, 0, 2]}])"),
       {"light \"s\"", "\"cone_angle\""}},
      {"rectangle without size",
       scene_with(R"("lights": [{"name": "p", "shape": "rectangle", "position": [0, 0, 2]}])"),
       {"light \"p\"", "\"size\""}},
      {"unknown shape",
       scene_with(R"("lights": [{"name": "p", "shape": "hexagon", "position": [0, 0, 2]}])"),
       {"light \"p\"", "\"hexagon\""}},
      {"zero grid spacing",
       "{" + std::string(kLight) +
           R"(, "surfaces": [{"name": "desk", "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 1, 0], "spacing": 0}]})",
       {"surface \"desk\"", "\"spacing\""}},
      {"normal in the surface",
       "{" + std::string(kLight) +
           R"(, "surfaces": [{"name": "desk", "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 1, 0], "spacing": 0.5, "normal": [1, 0, 0]}]})",
       {"surface \"desk\"", "\"normal\""}},
      {"unknown scene unit",
       scene_with(kLight, R"("scene_unit": "furlong")"),
       {"test.json", "\"furlong\""}},
      {"two lights of one name",
       scene_with(
           R"("lights": [{"name": "a", "position": [0, 0, 2]}, {"name": "a", "position": [1, 0, 2]}])"),
       {"test.json", "\"a\""}},
      {"transparency above 1",
       scene_with(
           kLight,
           R"("occluders": [{"name": "glass", "shape": "sphere", "center": [0, 0, 1], "radius": 0.2, "transparency": 1.5}])"),
       {"occluder \"glass\"", "\"transparency\""}},
      {"no lights", std::string("{") + kSurface + "}", {"test.json", "no lights"}},
  };
  for (const Refused& c : cases)
    expect_named(refusal([&] { lux::parse_scene(c.text, "test.json", "."); }), c);
}

// Errors found when the scene is built: shader fields are checked against
// the shaders' declarations, by name and by type.
TEST_F(LuxTest, ShaderFieldErrorsNameLightAndField) {
  const auto lamp = [](const std::string& shader) {
    return scene_with(R"("lights": [{"name": "lamp", "position": [0, 0, 2], "shader": )" + shader +
                      "}]");
  };
  const Refused cases[] = {
      {"unknown field",
       lamp(R"({"intensty": 5})"),
       {"test.json", "light \"lamp\"", "\"intensty\""}},
      {"fraction for an integer",
       lamp(R"({"intensity_unit": 1.5})"),
       {"light \"lamp\"", "\"intensity_unit\"", "whole number"}},
      {"text for a boolean", lamp(R"({"shadows": "yes"})"), {"light \"lamp\"", "\"shadows\""}},
      {"text for a number",
       lamp(R"({"intensity": "bright"})"),
       {"light \"lamp\"", "\"intensity\""}},
      {"colour of two components", lamp(R"({"color": [1, 2]})"), {"light \"lamp\"", "\"color\""}},
      {"number for a string",
       lamp(R"({"profile_name": 3})"),
       {"light \"lamp\"", "\"profile_name\""}},
      {"profile tag naming no profile",
       lamp(R"({"profile": "nowhere"})"),
       {"light \"lamp\"", "\"profile\"", "\"nowhere\""}},
      {"scene unit set twice", lamp(R"({"scene_unit": 2})"), {"light \"lamp\"", "\"scene_unit\""}},
      {"unknown field of a light object",
       scene_with(
           kLight,
           R"("light_objects": [{"name": "glow", "shape": "sphere", "center": [0, 0, 1], "radius": 0.1, "object_shader": {"colour": [1, 1, 1]}}])"),
       {"light object \"glow\"", "\"colour\""}},
      {"light object field the calculator sets",
       scene_with(
           kLight,
           R"("light_objects": [{"name": "glow", "shape": "sphere", "center": [0, 0, 1], "radius": 0.1, "object_shader": {"source": "x"}}])"),
       {"light object \"glow\"", "\"source\""}},
  };
  for (const Refused& c : cases) expect_named(refusal([&] { build(c.text); }), c);
}

// A profile file that is missing or malformed is named, with the line at
// fault where there is one.
TEST_F(LuxTest, ProfileFileErrorsNameTheFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("lux_profiles_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "broken.ies") << "IESNA:LM-63-2002\nTILT=NONE\n1 -1 1 3 x 1 2 0.1 0.1 0\n";
  const auto with_profile = [&](const std::string& file) {
    return scene_with(
        R"("lights": [{"name": "lamp", "position": [0, 0, 2], "shader": {"use_profile": true, "profile_name": "p"}}])",
        R"("profiles": [{"name": "p", "file": ")" + (dir / file).string() + "\"}]");
  };
  const Refused cases[] = {
      {"missing file", with_profile("absent.ies"), {"profile \"p\"", "absent.ies"}},
      {"malformed file", with_profile("broken.ies"), {"profile \"p\"", "broken.ies:3:"}},
  };
  for (const Refused& c : cases) expect_named(refusal([&] { build(c.text); }), c);
  expect_named(refusal([&] { lux::load_scene(dir / "absent.json"); }),
               {"missing scene file", "", {"absent.json"}});
  std::filesystem::remove_all(dir);
}

}  // namespace
