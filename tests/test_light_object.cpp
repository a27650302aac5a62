// The light object generator: an object instance of the scene becomes an
// object light with an instance placed where the object stands, defined
// through the host's scene-editing calls and redefined in place on a second
// run.
#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "refhost/refhost.h"
#include "shaders/light_object.h"
#include "tests/host_fixture.h"

namespace {

using zeltest::HostTest;

constexpr const char* kNotFound = "Zel_light_object: Error - Source object not found.";
constexpr const char* kNotInstance = "Zel_light_object: Error - Source object must be an instance";
constexpr const char* kNoShader = "Zel_light_object: Warning - no light or photon shader";
constexpr const char* kBaseRefused =
    "Zel_light_object: Error - Base name missing or longer than 1016 characters, "
    "no light defined";
constexpr const char* kUnnamed =
    "Zel_light_object: Warning - Source instance or its object has no name, "
    "its flag is left unchanged";

// The value of type T at byte `offset` of a database element.
template <typename T>
T read_at(miTag tag, size_t offset) {
  T value{};
  std::memcpy(&value, static_cast<const unsigned char*>(refhost::db_data(tag)) + offset,
              sizeof value);
  return value;
}

refhost::Matrix stored_matrix(miTag instance, size_t offset) {
  refhost::Matrix m{};
  std::memcpy(m.m, static_cast<const unsigned char*>(refhost::db_data(instance)) + offset,
              sizeof m.m);
  return m;
}

bool same_bits(const refhost::Matrix& a, const refhost::Matrix& b) {
  return std::memcmp(a.m, b.m, sizeof a.m) == 0;
}

// Position of the first log entry equal to `entry` at or after `from`.
size_t find_entry(const std::vector<std::string>& log, const std::string& entry, size_t from = 0) {
  for (size_t i = from; i < log.size(); ++i)
    if (log[i] == entry) return i;
  return log.size();
}

// The incremental mode set last before the log entry at `position`.
std::string mode_before(const std::vector<std::string>& log, size_t position) {
  for (size_t i = position; i-- > 0;)
    if (log[i].rfind("incremental(", 0) == 0) return log[i];
  return "none";
}

TEST(LightObjectDeclaration, RecordMatchesDeclaration) {
  using T = zel_light_object_t;
  const struct {
    const char* name;
    size_t offset;
  } fields[] = {{"source", offsetof(T, source)},
                {"light_shader", offsetof(T, light_shader)},
                {"photon_shader", offsetof(T, photon_shader)},
                {"first_switch", offsetof(T, first_switch)},
                {"second_switch", offsetof(T, second_switch)},
                {"color", offsetof(T, color)},
                {"color_scale", offsetof(T, color_scale)},
                {"first_value", offsetof(T, first_value)},
                {"second_value", offsetof(T, second_value)},
                {"third_value", offsetof(T, third_value)},
                {"first_short", offsetof(T, first_short)},
                {"second_short", offsetof(T, second_short)},
                {"third_short", offsetof(T, third_short)},
                {"fourth_short", offsetof(T, fourth_short)},
                {"fifth_short", offsetof(T, fifth_short)},
                {"fourth_value", offsetof(T, fourth_value)},
                {"source_flag", offsetof(T, source_flag)}};
  const refhost::ShaderDecl& d = refhost::declaration("zel_light_object");
  EXPECT_EQ(d.size, 80u);
  ASSERT_EQ(d.fields.size(), std::size(fields));
  for (size_t i = 0; i < std::size(fields); ++i) {
    EXPECT_EQ(d.fields[i].name, fields[i].name) << "field " << i;
    EXPECT_EQ(d.fields[i].offset, fields[i].offset) << fields[i].name;
    EXPECT_EQ(d.fields[i].offset, 4 * (i + (i > 5 ? 3 : 0))) << fields[i].name;
  }
}

TEST(LightObjectDeclaration, ShaderTagFieldsAreToldFromShaderHeaders) {
  const auto d = refhost::parse_declarations("shader a 1\n  shader s\n  integer i\nend\n");
  ASSERT_EQ(d.size(), 1u);
  ASSERT_EQ(d[0].fields.size(), 2u);
  EXPECT_EQ(d[0].fields[0].type, "shader");
  EXPECT_EQ(d[0].fields[1].offset, 4u);
  // A header inside an unfinished declaration is still refused.
  EXPECT_THROW(refhost::parse_declarations("shader a 1\n  scalar x\nshader b 1\nend\n"),
               std::runtime_error);
}

class LightObject : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    refhost::set_base_name_tag(refhost::db_add(miSCENE_FUNCTION, 16, "glow"));
    light_fn_ = refhost::db_add(miSCENE_FUNCTION, 16, "area_light_fn");
    photon_fn_ = refhost::db_add(miSCENE_FUNCTION, 16, "photon_fn");
  }

  // An object and an instance of it named `name`, placed by `placement`.
  miTag add_object_instance(const std::string& name,
                            const refhost::Matrix& placement = refhost::identity()) {
    refhost::Geometry ball;
    ball.kind = refhost::Geometry::Sphere;
    return refhost::add_instance(name, refhost::add_object(name + "_obj", ball), placement);
  }

  refhost::ShaderInstance& generator(const std::string& source) {
    refhost::ShaderInstance& s = make("zel_light_object");
    if (!source.empty()) s.set_string("source", source);
    s.set_tag("light_shader", light_fn_);
    s.set_tag("photon_shader", photon_fn_);
    s.set_color("color", {1, 1, 1, 1});
    s.set_float("color_scale", 1);
    return s;
  }

  // Runs the generator as the host runs a scene-building shader; returns
  // what it added to the shader's result. The host reports an error when a
  // name it is handed is not a fresh copy from its allocator.
  std::vector<miTag> run(refhost::ShaderInstance& s) {
    miState state = refhost::make_state(&s, &thread_, miRAY_EYE);
    s.init(&state);
    const size_t before = refhost::geoshader_results().size();
    int result_handle = 0;
    EXPECT_TRUE(s.call(&result_handle, &state));
    for (const auto& e : refhost::errors()) ADD_FAILURE() << "host error: " << e;
    const auto all = refhost::geoshader_results();
    return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
  }

  void expect_nothing_defined(const std::vector<miTag>& added, const std::string& label) {
    EXPECT_TRUE(added.empty()) << label;
    EXPECT_EQ(refhost::find("glow::light"), 0u) << label;
    EXPECT_EQ(refhost::find("glow::inst"), 0u) << label;
    for (const auto& entry : refhost::edit_log())
      EXPECT_EQ(entry.find("_begin("), std::string::npos) << label << ": " << entry;
  }

  miTag light_fn_ = 0;
  miTag photon_fn_ = 0;
};

TEST_F(LightObject, ObjectInstanceBecomesAnObjectLightWithAnInstance) {
  const miTag bulb = add_object_instance("bulb");
  const std::vector<miTag> added = run(generator("bulb"));

  const miTag light = refhost::find("glow::light");
  const miTag instance = refhost::find("glow::inst");
  ASSERT_NE(light, 0u);
  ASSERT_NE(instance, 0u);
  EXPECT_EQ(added, std::vector<miTag>{instance});
  EXPECT_EQ(mi_db_type(light), miSCENE_LIGHT);
  EXPECT_EQ(mi_db_type(instance), miSCENE_INSTANCE);
  EXPECT_EQ(read_at<miTag>(light, 72), bulb) << "the light emits from the source instance";
  EXPECT_TRUE(refhost::warnings().empty());

  // What an area light attached to the new light asks the host.
  miTag item = 0;
  ASSERT_TRUE(mi_query(miQ_INST_ITEM, nullptr, instance, &item));
  EXPECT_EQ(item, light);
  int shape = 0;
  ASSERT_TRUE(mi_query(miQ_LIGHT_AREA, nullptr, light, &shape));
  EXPECT_EQ(shape, miLIGHT_OBJECT);
  EXPECT_EQ(refhost::light_record(light)->shader, light_fn_);
  EXPECT_EQ(refhost::light_record(light)->emitter, photon_fn_);
}

TEST_F(LightObject, SearchGoesThroughNestedGroupsDepthFirst) {
  // outer_inst → outer = {inner_inst → inner = {lamp_inst, first}, second}
  refhost::LightDesc lamp;
  const miTag lamp_inst = add_light_instance(lamp, refhost::identity(), "lamp");
  const miTag first = add_object_instance("first");
  const miTag inner = refhost::add_group("inner", {lamp_inst, first});
  const miTag inner_inst = refhost::add_instance("inner_inst", inner, refhost::identity());
  const miTag second = add_object_instance("second");
  const miTag outer = refhost::add_group("outer", {inner_inst, second});
  refhost::add_instance("outer_inst", outer, refhost::identity());

  refhost::ShaderInstance& s = generator("outer_inst");
  s.set_int("source_flag", 1);
  run(s);
  const miTag light = refhost::find("glow::light");
  ASSERT_NE(light, 0u);
  EXPECT_EQ(read_at<miTag>(light, 72), first);
  EXPECT_EQ(read_at<uint8_t>(first, refhost::kInstanceFlagOffset), 1) << "flag set on the find";
  EXPECT_EQ(read_at<uint8_t>(second, refhost::kInstanceFlagOffset), 0);
}

TEST_F(LightObject, SourcesThatNameNoInstanceAreRefused) {
  refhost::LightDesc lamp_desc;
  refhost::add_light("lamp", lamp_desc);
  refhost::Geometry ball;
  refhost::add_object("ball", ball);
  refhost::add_group("set", {add_object_instance("member")});
  refhost::add_string("text", "label");
  const struct {
    const char* source;
    const char* warning;
  } cases[] = {{"lamp", kNotInstance},
               {"ball", kNotInstance},
               {"set", kNotInstance},
               {"label", kNotInstance},
               {"nowhere", kNotFound}};
  for (const auto& c : cases) {
    refhost::clear_messages();
    refhost::clear_edit_log();
    const std::vector<miTag> added = run(generator(c.source));
    EXPECT_EQ(refhost::warnings(), std::vector<std::string>{c.warning}) << c.source;
    expect_nothing_defined(added, c.source);
  }
}

TEST_F(LightObject, SourcesWithoutAnObjectEndSilently) {
  refhost::LightDesc lamp;
  add_light_instance(lamp, refhost::identity(), "lamp");  // "lamp_inst": instance of a light
  refhost::add_instance("empty_inst", refhost::add_group("empty", {}), refhost::identity());
  const miTag lamps = refhost::add_group("lamps", {refhost::find("lamp_inst")});
  refhost::add_instance("lamps_inst", lamps, refhost::identity());
  const miTag ball = add_object_instance("ball");
  const miTag number = refhost::db_add(miSCENE_OBJECT, 16);

  const struct {
    const char* label;
    miTag source;  // 0: the parameter is left 0; else this tag as it is
    const char* name;
  } cases[] = {{"no source", 0, nullptr},
               {"source not a string", ball, nullptr},
               {"source an object tag", number, nullptr},
               {"instance of a light", 0, "lamp_inst"},
               {"instance of an empty group", 0, "empty_inst"},
               {"group with only a light below", 0, "lamps_inst"}};
  for (const auto& c : cases) {
    refhost::clear_messages();
    refhost::clear_edit_log();
    refhost::ShaderInstance& s = generator(c.name != nullptr ? c.name : "");
    if (c.source != 0) s.set_tag("source", c.source);
    const std::vector<miTag> added = run(s);
    EXPECT_TRUE(refhost::warnings().empty()) << c.label << ": " << refhost::warnings().front();
    expect_nothing_defined(added, c.label);
  }
}

TEST_F(LightObject, LightRecordTakesTheParametersAtTheirPositions) {
  const miTag bulb = add_object_instance("bulb");
  refhost::ShaderInstance& s = generator("bulb");
  s.set_color("color", {1.0f, 0.5f, 0.25f, 0.75f});
  s.set_float("color_scale", 4.0f);
  s.set_int("first_switch", 1);
  s.set_int("second_switch", 1);
  s.set_int("first_value", 11);
  s.set_int("second_value", 22);
  s.set_int("third_value", 33);
  s.set_int("first_short", 0x10001);  // only the low 16 bits reach the light
  s.set_int("second_short", 2);
  s.set_int("third_short", -3);
  s.set_int("fourth_short", 4);
  s.set_int("fifth_short", 0x70005);
  // Bits that are no ordinary number travel unchanged.
  const float quiet_nan_with_payload = std::bit_cast<float>(0x7FC01234u);
  s.set_float("fourth_value", quiet_nan_with_payload);
  run(s);

  const miTag light = refhost::find("glow::light");
  ASSERT_NE(light, 0u);
  const struct {
    size_t offset;
    uint32_t bits;
  } words[] = {{0, 0u},
               {4, 5u},
               {8, 0x7FC01234u},
               {12, 22u},
               {16, 11u},
               {20, std::bit_cast<uint32_t>(4.0f)},
               {24, std::bit_cast<uint32_t>(2.0f)},
               {28, std::bit_cast<uint32_t>(1.0f)},
               {32, std::bit_cast<uint32_t>(0.75f)},
               {36, light_fn_},
               {40, photon_fn_},
               {72, bulb},
               {128, 33u}};
  for (const auto& w : words)
    EXPECT_EQ(read_at<uint32_t>(light, w.offset), w.bits) << "byte " << w.offset;
  const struct {
    size_t offset;
    int16_t value;
  } shorts[] = {{96, 1}, {98, 2}, {100, 4}, {102, 5}, {104, -3}};
  for (const auto& h : shorts)
    EXPECT_EQ(read_at<int16_t>(light, h.offset), h.value) << "byte " << h.offset;

  // Nothing else of the fresh record is written.
  std::vector<bool> written(sizeof(refhost::LightRecord), false);
  for (const auto& w : words) std::fill_n(written.begin() + long(w.offset), 4, true);
  for (const auto& h : shorts) std::fill_n(written.begin() + long(h.offset), 2, true);
  const auto* bytes = static_cast<const unsigned char*>(refhost::db_data(light));
  for (size_t i = 0; i < written.size(); ++i)
    EXPECT_TRUE(written[i] || bytes[i] == 0) << "byte " << i << " written";
}

TEST_F(LightObject, SwitchesGateTheFirstAndSecondValues) {
  add_object_instance("bulb");
  const struct {
    int first_switch, second_switch;
    uint32_t at16, at12;
  } cases[] = {{0, 0, 0, 0}, {0, 1, 0, 9}, {1, 0, 7, 0}, {-1, 2, 7, 9}};
  for (const auto& c : cases) {
    refhost::ShaderInstance& s = generator("bulb");
    s.set_int("first_switch", c.first_switch);
    s.set_int("second_switch", c.second_switch);
    s.set_int("first_value", 7);
    s.set_int("second_value", 9);
    run(s);
    const miTag light = refhost::find("glow::light");
    ASSERT_NE(light, 0u);
    EXPECT_EQ(read_at<uint32_t>(light, 16), c.at16) << c.first_switch << " " << c.second_switch;
    EXPECT_EQ(read_at<uint32_t>(light, 12), c.at12) << c.first_switch << " " << c.second_switch;
  }
}

TEST_F(LightObject, LightWithoutShadersIsDefinedWithAWarning) {
  const miTag bulb = add_object_instance("bulb");
  refhost::ShaderInstance& s = generator("bulb");
  s.set_tag("light_shader", 0);
  s.set_tag("photon_shader", 0);
  const std::vector<miTag> added = run(s);
  EXPECT_EQ(refhost::warnings(), std::vector<std::string>{kNoShader});
  const miTag light = refhost::find("glow::light");
  ASSERT_NE(light, 0u);
  EXPECT_EQ(read_at<miTag>(light, 72), bulb);
  EXPECT_EQ(added, std::vector<miTag>{refhost::find("glow::inst")});

  // One shader of the two is enough.
  for (const char* field : {"light_shader", "photon_shader"}) {
    refhost::clear_messages();
    refhost::ShaderInstance& one = generator("bulb");
    one.set_tag(field, 0);
    run(one);
    EXPECT_TRUE(refhost::warnings().empty()) << field;
  }
}

TEST_F(LightObject, LightInstanceStandsWhereTheObjectStands) {
  const refhost::Matrix placement =
      refhost::multiply(refhost::rotate_xyz(30, 45, 60), refhost::translate(1, -2, 3));
  const miTag bulb = add_object_instance("bulb", placement);
  run(generator("bulb"));
  const miTag instance = refhost::find("glow::inst");
  ASSERT_NE(instance, 0u);

  EXPECT_TRUE(same_bits(refhost::instance_local_to_world(instance),
                        refhost::instance_local_to_world(bulb)));
  EXPECT_TRUE(same_bits(stored_matrix(instance, refhost::kInstanceGlobalToLocal),
                        stored_matrix(bulb, refhost::kInstanceGlobalToLocal)));
  EXPECT_EQ(read_at<uint32_t>(instance, 0), 0u);

  // The area light's route to its origin: query 5 on its instance, the
  // light's origin (0, 0, 0) carried through that matrix.
  const float* matrix = nullptr;
  ASSERT_TRUE(mi_query(miQ_INST_GLOBAL_TO_LOCAL, nullptr, instance, &matrix));
  miVector origin{};
  const miVector zero{0, 0, 0};
  mi_point_transform(&origin, &zero, matrix);
  EXPECT_NEAR(origin.x, 1.0f, 1e-6f);
  EXPECT_NEAR(origin.y, -2.0f, 1e-6f);
  EXPECT_NEAR(origin.z, 3.0f, 1e-6f);

  // Directions go to and from the light's space as to and from the object's.
  miState state = refhost::make_state(nullptr, &thread_, miRAY_EYE, instance);
  const miVector d{0.3f, -0.4f, 0.866f};
  miVector to_light{}, back{};
  mi_vector_to_light(&state, &to_light, &d);
  mi_vector_from_light(&state, &back, &to_light);
  const miVector expected =
      refhost::transform_vector(d, stored_matrix(bulb, refhost::kInstanceGlobalToLocal));
  EXPECT_NEAR(to_light.x, expected.x, 1e-6f);
  EXPECT_NEAR(to_light.y, expected.y, 1e-6f);
  EXPECT_NEAR(to_light.z, expected.z, 1e-6f);
  EXPECT_NEAR(back.x, d.x, 1e-6f);
  EXPECT_NEAR(back.y, d.y, 1e-6f);
  EXPECT_NEAR(back.z, d.z, 1e-6f);
}

TEST_F(LightObject, SourceFlagIsSetOnlyWhereItDiffers) {
  const struct {
    uint8_t stored;
    int source_flag;
    bool redefined;
    uint8_t after;
  } cases[] = {{0, 0, false, 0}, {0, 3, true, 3},        {3, 3, false, 3},
               {7, 0, true, 0},  {0, 0x1FF, true, 0xFF}, {0xFF, 0x1FF, true, 0xFF}};
  const refhost::Matrix placement = refhost::translate(4, 5, 6);
  for (const auto& c : cases) {
    refhost::reset();
    refhost::reset_editing();
    SetUp();
    const miTag bulb = add_object_instance("bulb", placement);
    const miTag object = refhost::find("bulb_obj");
    static_cast<unsigned char*>(refhost::db_data(bulb))[refhost::kInstanceFlagOffset] = c.stored;
    const refhost::Matrix w2l_before = stored_matrix(bulb, refhost::kInstanceGlobalToLocal);

    refhost::ShaderInstance& s = generator("bulb");
    s.set_int("source_flag", c.source_flag);
    run(s);
    const auto log = refhost::edit_log();
    const size_t begin = find_entry(log, "instance_begin(bulb)");
    const std::string label = std::to_string(c.stored) + " vs " + std::to_string(c.source_flag);
    EXPECT_EQ(begin < log.size(), c.redefined) << label;
    if (begin < log.size()) {
      EXPECT_EQ(mode_before(log, begin), "incremental(1)") << label;
      EXPECT_EQ(find_entry(log, "instance_end(bulb_obj)", begin), begin + 1) << label;
    }
    EXPECT_EQ(read_at<uint8_t>(bulb, refhost::kInstanceFlagOffset), c.after) << label;
    // The redefinition leaves the rest of the instance as it was.
    EXPECT_EQ(refhost::find("bulb"), bulb) << label;
    EXPECT_EQ(read_at<miTag>(bulb, refhost::kInstanceItemOffset), object) << label;
    EXPECT_TRUE(same_bits(refhost::instance_local_to_world(bulb), placement)) << label;
    EXPECT_TRUE(same_bits(stored_matrix(bulb, refhost::kInstanceGlobalToLocal), w2l_before))
        << label;
    for (auto& i : instances_) i->exit();
    instances_.clear();
  }
}

TEST_F(LightObject, SecondRunRedefinesInPlace) {
  add_object_instance("bulb", refhost::translate(1, 1, 1));
  refhost::ShaderInstance& s = generator("bulb");
  s.set_int("source_flag", 1);
  const std::vector<miTag> first = run(s);
  auto log = refhost::edit_log();
  EXPECT_EQ(mode_before(log, find_entry(log, "light_begin(glow::light)")), "incremental(0)");
  EXPECT_EQ(mode_before(log, find_entry(log, "instance_begin(glow::inst)")), "incremental(0)");
  const miTag light = refhost::find("glow::light");
  const size_t elements = refhost::elements_of_type(miSCENE_INSTANCE).size();
  // Something the host keeps in the light that the generator never writes.
  refhost::light_record(light)->origin = {0.5f, 0.25f, 0.125f};

  refhost::clear_edit_log();
  s.set_color("color", {0.5f, 0.5f, 0.5f, 1});
  const std::vector<miTag> second = run(s);
  log = refhost::edit_log();
  const size_t light_begin = find_entry(log, "light_begin(glow::light)");
  const size_t instance_begin = find_entry(log, "instance_begin(glow::inst)");
  ASSERT_LT(light_begin, log.size());
  ASSERT_LT(instance_begin, log.size());
  EXPECT_EQ(mode_before(log, light_begin), "incremental(1)");
  EXPECT_EQ(mode_before(log, instance_begin), "incremental(1)");
  EXPECT_EQ(find_entry(log, "instance_begin(bulb)"), log.size()) << "flag already set";

  EXPECT_EQ(second, first);
  EXPECT_EQ(refhost::find("glow::light"), light);
  EXPECT_EQ(refhost::elements_of_type(miSCENE_LIGHT).size(), 1u);
  EXPECT_EQ(refhost::elements_of_type(miSCENE_INSTANCE).size(), elements);
  EXPECT_EQ(refhost::light_record(light)->energy.r, 0.5f);
  EXPECT_EQ(refhost::light_record(light)->origin.z, 0.125f);
  EXPECT_TRUE(refhost::warnings().empty());
}

TEST_F(LightObject, BaseNameMustFitTheNameBuffers) {
  const struct {
    const char* label;
    size_t length;  // of the base name; 0: no base name tag at all
    bool named;     // the base name tag's element has a name
    bool defined;
  } cases[] = {{"1016 characters", 1016, true, true},
               {"1017 characters", 1017, true, false},
               {"64 kB", 65536, true, false},
               {"no base name tag", 0, true, false},
               {"unnamed base element", 8, false, false}};
  add_object_instance("bulb");
  for (const auto& c : cases) {
    refhost::clear_messages();
    refhost::clear_edit_log();
    const std::string base(c.length, 'b');
    const miTag base_tag =
        c.length == 0 ? 0 : refhost::db_add(miSCENE_FUNCTION, 16, c.named ? base : "");
    refhost::set_base_name_tag(base_tag);
    const std::vector<miTag> added = run(generator("bulb"));
    const miTag instance = refhost::find(base + "::inst");
    if (c.defined) {
      EXPECT_NE(refhost::find(base + "::light"), 0u) << c.label;
      EXPECT_NE(instance, 0u) << c.label;
      EXPECT_EQ(added, std::vector<miTag>{instance}) << c.label;
      EXPECT_TRUE(refhost::warnings().empty()) << c.label;
    } else {
      EXPECT_EQ(refhost::warnings(), std::vector<std::string>{kBaseRefused}) << c.label;
      EXPECT_TRUE(added.empty()) << c.label;
      for (const auto& entry : refhost::edit_log())
        EXPECT_EQ(entry.find("_begin("), std::string::npos) << c.label << ": " << entry;
    }
  }
}

TEST_F(LightObject, UnnamedSourceInstanceKeepsItsFlag) {
  refhost::Geometry ball;
  const miTag anonymous =
      refhost::add_instance("", refhost::add_object("ball", ball), refhost::identity());
  const miTag group = refhost::add_group("holder", {anonymous});
  refhost::add_instance("holder_inst", group, refhost::identity());

  refhost::ShaderInstance& s = generator("holder_inst");
  s.set_int("source_flag", 2);
  const std::vector<miTag> added = run(s);
  EXPECT_EQ(refhost::warnings(), std::vector<std::string>{kUnnamed});
  EXPECT_EQ(added, std::vector<miTag>{refhost::find("glow::inst")});
  EXPECT_EQ(read_at<miTag>(refhost::find("glow::light"), 72), anonymous);
  EXPECT_EQ(read_at<uint8_t>(anonymous, refhost::kInstanceFlagOffset), 0);
}

TEST_F(LightObject, AsksForInstanceCallsAndAnswersVersionOne) {
  using VersionFn = int (*)();
  using InitFn = void (*)(miState*, void*, miBoolean*);
  auto version = reinterpret_cast<VersionFn>(zeltest::plugin().symbol("zel_light_object_version"));
  auto init = reinterpret_cast<InitFn>(zeltest::plugin().symbol("zel_light_object_init"));
  ASSERT_NE(version, nullptr);
  ASSERT_NE(init, nullptr);
  ASSERT_NE(zeltest::plugin().symbol("zel_light_object_exit"), nullptr);
  EXPECT_EQ(version(), 1);
  miState state{};
  miBoolean flag = 0;
  init(&state, nullptr, &flag);
  EXPECT_EQ(flag, 1);
  zel_light_object_t params{};
  flag = 0;
  init(&state, &params, &flag);
  EXPECT_EQ(flag, 0) << "the per-instance call leaves the flag alone";
}

}  // namespace
