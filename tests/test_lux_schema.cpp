// The JSON Schema of the scene file (docs/scene.schema.json), which editors
// use to complete and check scene files, is kept true: every example
// conforms, what the reader refuses the schema refuses too, and the shader
// fields it lists are the shaders' declared fields.
#include <filesystem>
#include <fstream>
#include <set>

#include "tests/json_schema.h"
#include "tests/lux_fixture.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using zeltest::LuxTest;

json read_json(const fs::path& path) {
  std::ifstream in(path);
  return json::parse(in, nullptr, true, /*ignore_comments=*/true);
}

zeltest::SchemaValidator scene_schema() {
  return zeltest::SchemaValidator(read_json(fs::path(ZEL_SOURCE_DIR) / "docs/scene.schema.json"));
}

std::string joined(const std::vector<std::string>& faults) {
  std::string s;
  for (const auto& f : faults) s += "\n  " + f;
  return s;
}

// Every example conforms to the schema and is read by the calculator: an
// example the reader refuses is a broken example, whatever the schema says.
TEST(LuxSchema, EveryExampleConformsAndReads) {
  const auto schema = scene_schema();
  int examples = 0;
  for (const auto& e : fs::recursive_directory_iterator(fs::path(ZEL_SOURCE_DIR) / "examples")) {
    if (e.path().extension() != ".json") continue;
    ++examples;
    const auto faults = schema.validate(read_json(e.path()));
    EXPECT_TRUE(faults.empty()) << e.path() << joined(faults);
    try {
      lux::load_scene(e.path());
    } catch (const lux::Error& error) {
      ADD_FAILURE() << error.what();
    }
  }
  EXPECT_GE(examples, 3);
}

const char* kScene = R"({
  "samples": 8,
  "lights": [{"name": "lamp", "position": [0, 0, 2], "shader": {"intensity": 100}}],
  "surfaces": [{"name": "floor", "corner": [0, 0, 0], "u": [1, 0, 0], "v": [0, 1, 0],
                "spacing": 0.5}],
  "view": {"position": [3, 0, 1], "look_at": [0, 0, 0]}
})";

// Scenes the calculator refuses (reading them or building them) are
// refused by the schema as well; the unchanged scene passes both.
TEST_F(LuxTest, SchemaRefusesWhatTheReaderRefuses) {
  const auto schema = scene_schema();
  const json base = json::parse(kScene);
  ASSERT_TRUE(schema.validate(base).empty()) << joined(schema.validate(base));
  ASSERT_NO_THROW(build(base.dump()));
  struct Case {
    const char* what;
    const char* pointer;
    json value;
  };
  const Case cases[] = {
      {"unknown top-level key", "/lihgts", json::array()},
      {"misspelt light key", "/lights/0/positon", {0, 0, 2}},
      {"light without position", "/lights/0/position", nullptr},
      {"samples of 0", "/samples", 0},
      {"samples of 2^32 + 4", "/samples", 4294967300ull},
      {"picture width beyond 8192", "/view/width", 4294967300ull},
      {"position of two numbers", "/lights/0/position", {0, 2}},
      {"unknown shape", "/lights/0/shape", "hexagon"},
      {"zero spacing", "/surfaces/0/spacing", 0},
      {"unknown shader field", "/lights/0/shader/intensty", 5},
      {"text for a number field", "/lights/0/shader/intensity", "bright"},
      {"colour beyond single precision", "/lights/0/shader/color", {1e39, 1, 1}},
      {"integer field beyond 32 bits", "/lights/0/shader/intensity_unit", 4294967297ull},
      {"text for a flag", "/lights/0/shader/shadows", "yes"},
      {"unknown task", "/surfaces/0/targets", {{"task", "6.99.9"}}},
      {"empty targets", "/surfaces/0/targets", json::object()},
      {"uniformity target above 1", "/surfaces/0/targets", {{"U0", 1.5}}},
      {"glare target on a surface", "/surfaces/0/targets", {{"UGR", 19}}},
      {"misspelt target", "/surfaces/0/targets", {{"Eavg", 500}}},
      {"room targets without a task", "/room", {{"size", {1, 1, 1}}, {"targets", {{"Em", 5}}}}},
      {"task area without a size", "/surfaces/0/task_areas",
       json::array({{{"name", "desk"}, {"corner", {0.1, 0.1, 0}}}})},
      {"task area without a name", "/surfaces/0/task_areas",
       json::array({{{"corner", {0.1, 0.1, 0}}, {"size", {0.2, 0.2}}}})},
      {"cylindrical area with a sloping edge", "/cylindrical",
       json::array({{{"name", "c"},
                     {"corner", {0, 0, 0}},
                     {"u", {1, 0, 0.5}},
                     {"v", {0, 1, 0}},
                     {"spacing", 0.5}}})},
      {"cylindrical area without a spacing", "/cylindrical",
       json::array({{{"name", "c"}, {"corner", {0, 0, 0}}, {"u", {1, 0, 0}}, {"v", {0, 1, 0}}}})},
      {"observer without a name", "/observers",
       json::array({{{"position", {0, 1, 1.2}}, {"directions", {{1, 0, 0}}}}})},
      {"maintenance factor of 0.001", "/maintenance_factor", 0.001},
      {"transparency above 1", "/occluders",
       json::array({{{"name", "g"},
                     {"shape", "sphere"},
                     {"center", {0, 0, 1}},
                     {"radius", 0.2},
                     {"transparency", 1.5}}})},
  };
  for (const Case& c : cases) {
    json scene = base;
    const json::json_pointer at(c.pointer);
    if (c.value.is_null()) {
      scene[at.parent_pointer()].erase(at.back());
    } else {
      scene[at] = c.value;
    }
    EXPECT_FALSE(schema.validate(scene).empty()) << c.what << ": the schema accepts it";
    EXPECT_THROW(build(scene.dump()), lux::Error) << c.what << ": the reader accepts it";
  }
}

// The shader fields the schema offers are exactly those the shaders
// declare, less those the calculator sets itself.
TEST_F(LuxTest, SchemaShaderFieldsAreTheDeclaredFields) {
  const json schema = read_json(fs::path(ZEL_SOURCE_DIR) / "docs/scene.schema.json");
  struct Case {
    const char* def;
    const char* shader;
    std::set<std::string> set_by_the_calculator;
  };
  const Case cases[] = {
      {"lumenfield_fields", "zel_lumenfield", {}},
      {"lightprofile_fields", "zel_lightprofile", {"file_name", "profile_name", "format"}},
      {"light_object_fields", "zel_light_object", {"source", "light_shader", "photon_shader"}},
  };
  for (const Case& c : cases) {
    std::set<std::string> declared, offered;
    for (const auto& f : refhost::declaration(c.shader).fields)
      if (c.set_by_the_calculator.count(f.name) == 0) declared.insert(f.name);
    for (const auto& item : schema["$defs"][c.def]["properties"].items())
      offered.insert(item.key());
    EXPECT_EQ(offered, declared) << c.shader;
  }
}

}  // namespace
