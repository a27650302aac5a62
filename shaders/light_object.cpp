// zel_light_object: a scene-building shader that makes an object instance of
// the scene glow. It defines a light whose emitter is that instance's
// geometry, an instance of the light placed where the object stands, and,
// where the source instance's flag byte is not yet the one asked for, a
// redefinition of the source instance with that byte changed.
//
// Everything the shader defines is named after the host's base name, so that
// running it again redefines the same light and instance in place.
#include "shaders/light_object.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "shaders/export.h"

namespace {

constexpr const char* kSourceNotFound = "Zel_light_object: Error - Source object not found.";
constexpr const char* kSourceNotInstance =
    "Zel_light_object: Error - Source object must be an instance";
constexpr const char* kNoShader = "Zel_light_object: Warning - no light or photon shader";
constexpr const char* kBaseNameRefused =
    "Zel_light_object: Error - Base name missing or longer than 1016 characters, "
    "no light defined";
constexpr const char* kSourceUnnamed =
    "Zel_light_object: Warning - Source instance or its object has no name, "
    "its flag is left unchanged";

// The generated names are composed in fixed buffers; the base name must
// leave room for the longer suffix and the terminating zero.
constexpr size_t kNameBufferSize = 1024;
constexpr char kLightSuffix[] = "::light";
constexpr size_t kMaxBaseName = kNameBufferSize - (sizeof kLightSuffix - 1) - 1;
static_assert(kMaxBaseName == 1016);
using NameBuffer = std::array<char, kNameBufferSize>;

// Byte positions in the host's light record.
namespace light_at {
constexpr size_t kType = 0;
constexpr size_t kShape = 4;
constexpr size_t kFourthValue = 8;
constexpr size_t kSecondValue = 12;
constexpr size_t kFirstValue = 16;
constexpr size_t kRed = 20;
constexpr size_t kGreen = 24;
constexpr size_t kBlue = 28;
constexpr size_t kAlpha = 32;
constexpr size_t kLightShader = 36;
constexpr size_t kPhotonShader = 40;
constexpr size_t kEmittingInstance = 72;
constexpr size_t kFirstShort = 96;
constexpr size_t kSecondShort = 98;
constexpr size_t kFourthShort = 100;
constexpr size_t kFifthShort = 102;
constexpr size_t kThirdShort = 104;
constexpr size_t kThirdValue = 128;
}  // namespace light_at

// Byte positions in the host's instance record.
namespace instance_at {
constexpr size_t kFirstWord = 0;
constexpr size_t kFirstMatrix = 8;
constexpr size_t kSecondMatrix = 72;
constexpr size_t kFlag = 254;
}  // namespace instance_at
constexpr size_t kMatrixBytes = 16 * sizeof(float);

// The light type word the generated light starts with.
constexpr int32_t kLightTypeWord = 0;

template <typename T>
void put(unsigned char* record, size_t at, T value) {
  std::memcpy(record + at, &value, sizeof value);
}

// The low 16 bits of a parameter, as the host's 16-bit record fields hold them.
int16_t low_16_bits(miInteger value) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu));
}

// The instance named by the string element `source`, or rather the first
// instance of an object at or below it; 0 when there is none, after a
// warning when the name is unknown or names something that is not an
// instance.
miTag find_source_instance(miTag source) {
  const auto* name = static_cast<const char*>(mi_db_access(source));
  const miTag element = mi_api_name_lookup(mi_mem_int_strdup(__FILE__, __LINE__, name));
  miTag instance = 0;
  if (element == 0)
    mi_warning(kSourceNotFound);
  else if (mi_db_type(element) == miSCENE_INSTANCE)
    instance = get_first_instance_type(element, miSCENE_OBJECT);
  else
    mi_warning(kSourceNotInstance);
  mi_db_unpin(source);
  return instance;
}

// The name the host chooses for the calling state's generated elements, or
// null when it gives none or the name would not fit the name buffers.
const char* base_name(miState* state) {
  miTag tag = 0;
  mi_query(miQ_NAME_BASE, state, 0, &tag);
  const char* name = tag != 0 ? mi_api_tag_lookup(tag) : nullptr;
  if (name == nullptr || std::strlen(name) > kMaxBaseName) return nullptr;
  return name;
}

NameBuffer compose_name(const char* base, const char* suffix) {
  NameBuffer name{};
  std::snprintf(name.data(), name.size(), "%s%s", base, suffix);
  return name;
}

bool name_exists(const NameBuffer& name) {
  return mi_api_name_lookup(mi_mem_int_strdup(__FILE__, __LINE__, name.data())) != 0;
}

// An object light: the emitting geometry is `emitting_instance`, the
// shaders, colour and counts come from the parameters.
void fill_light_record(unsigned char* light, const zel_light_object_t& p, miTag emitting_instance) {
  using namespace light_at;
  put<int32_t>(light, kType, kLightTypeWord);
  put<int32_t>(light, kShape, miLIGHT_OBJECT);
  std::memcpy(light + kFourthValue, &p.fourth_value, sizeof p.fourth_value);  // bit for bit
  put<miInteger>(light, kSecondValue, p.second_switch != 0 ? p.second_value : 0);
  put<miInteger>(light, kFirstValue, p.first_switch != 0 ? p.first_value : 0);
  put<float>(light, kRed, p.color.r * p.color_scale);
  put<float>(light, kGreen, p.color.g * p.color_scale);
  put<float>(light, kBlue, p.color.b * p.color_scale);
  put<float>(light, kAlpha, p.color.a);
  put<miTag>(light, kLightShader, p.light_shader);
  put<miTag>(light, kPhotonShader, p.photon_shader);
  put<miTag>(light, kEmittingInstance, emitting_instance);
  put<int16_t>(light, kFirstShort, low_16_bits(p.first_short));
  put<int16_t>(light, kSecondShort, low_16_bits(p.second_short));
  put<int16_t>(light, kFourthShort, low_16_bits(p.fourth_short));
  put<int16_t>(light, kFifthShort, low_16_bits(p.fifth_short));
  put<int16_t>(light, kThirdShort, low_16_bits(p.third_short));
  put<miInteger>(light, kThirdValue, p.third_value);
}

// Defines (or, when it exists, redefines) the light; returns its tag.
miTag define_light(const NameBuffer& name, bool exists, const zel_light_object_t& p,
                   miTag emitting_instance) {
  mi_api_incremental(exists ? 1 : 0);
  auto* light = static_cast<unsigned char*>(
      mi_api_light_begin(mi_mem_int_strdup(__FILE__, __LINE__, name.data())));
  if (light != nullptr) fill_light_record(light, p, emitting_instance);
  if (p.light_shader == 0 && p.photon_shader == 0) mi_warning(kNoShader);
  return mi_api_light_end();
}

// Defines (or redefines) the instance of the light named by
// `light_item_copy` (a copy the host takes over), placed by the source
// instance's transformation; returns its tag. The source's stored record
// keeps that transformation in its second matrix, while a definition takes
// it in the first and its inverse in the second.
miTag define_light_instance(const NameBuffer& name, bool exists, miTag source_instance,
                            char* light_item_copy) {
  mi_api_incremental(exists ? 1 : 0);
  auto* instance = static_cast<unsigned char*>(
      mi_api_instance_begin(mi_mem_int_strdup(__FILE__, __LINE__, name.data())));
  if (instance != nullptr) {
    using namespace instance_at;
    put<int32_t>(instance, kFirstWord, 0);
    const auto* source = static_cast<const unsigned char*>(mi_db_access(source_instance));
    if (source != nullptr) {
      std::memcpy(instance + kFirstMatrix, source + kSecondMatrix, kMatrixBytes);
      mi_matrix_invert(reinterpret_cast<float*>(instance + kSecondMatrix),
                       reinterpret_cast<const float*>(instance + kFirstMatrix));
      mi_db_unpin(source_instance);
    }
  }
  return mi_api_instance_end(light_item_copy, 0, 0);
}

// Gives the source instance the flag byte `flag` unless query 90 already
// reports it. The instance is redefined by its own name and its item's
// name; the host keeps everything else it holds.
void set_source_flag(miTag source_instance, miInteger flag) {
  miInteger current = 0;
  mi_query(miQ_INST_FLAG, nullptr, source_instance, &current);
  if (current == flag) return;

  const char* own_name = mi_api_tag_lookup(source_instance);
  miTag item = 0;
  mi_query(miQ_INST_ITEM, nullptr, source_instance, &item);
  const char* item_name = item != 0 ? mi_api_tag_lookup(item) : nullptr;
  // Without both names the host cannot be told which instance to change.
  if (own_name == nullptr || item_name == nullptr) {
    mi_warning(kSourceUnnamed);
    return;
  }
  char* own_copy = mi_mem_int_strdup(__FILE__, __LINE__, own_name);
  char* item_copy = mi_mem_int_strdup(__FILE__, __LINE__, item_name);

  mi_api_incremental(1);
  auto* instance = static_cast<unsigned char*>(mi_api_instance_begin(own_copy));
  if (instance != nullptr)
    instance[instance_at::kFlag] = static_cast<unsigned char>(static_cast<uint32_t>(flag) & 0xFFu);
  mi_api_instance_end(item_copy, 0, 0);
}

}  // namespace

namespace {

// The groups the search is inside of, innermost first, each on the stack
// frame of the search that entered it.
struct GroupPath {
  miTag group;
  const GroupPath* outer;
};

bool on_path(const GroupPath* path, miTag group) {
  for (; path != nullptr; path = path->outer)
    if (path->group == group) return true;
  return false;
}

// get_first_instance_type below the groups of `path`. A scene graph should
// have no cycles, but one edited into holding an instance of a group inside
// that same group would send the search round for ever (and out of stack):
// a group already being searched is passed over.
miTag first_instance_below(miTag tag, int type, const GroupPath* path) {
  if (tag == 0 || mi_db_type(tag) != miSCENE_INSTANCE) return 0;
  miTag item = 0;
  if (!mi_query(miQ_INST_ITEM, nullptr, tag, &item) || item == 0) return 0;

  const int item_type = mi_db_type(item);
  if (item_type == type) return tag;
  if (item_type != miSCENE_GROUP || on_path(path, item)) return 0;

  miInteger members = 0;
  if (!mi_query(miQ_GROUP_NKIDS, nullptr, item, &members) || members < 1) return 0;
  const GroupPath inside{item, path};
  for (miInteger i = 0; i < members; ++i) {
    miTag member = 0;
    mi_query(miQ_GROUP_KID, nullptr, item, &member, i);
    if (member == 0) continue;
    if (const miTag found = first_instance_below(member, type, &inside); found != 0) return found;
  }
  return 0;
}

}  // namespace

miTag get_first_instance_type(miTag tag, int type) {
  return first_instance_below(tag, type, nullptr);
}

ZEL_EXPORT int zel_light_object_version(void) { return 1; }

ZEL_EXPORT void zel_light_object_init(miState*, zel_light_object_t* params,
                                      miBoolean* wants_instance_init) {
  if (params == nullptr && wants_instance_init != nullptr) *wants_instance_init = 1;
}

ZEL_EXPORT void zel_light_object_exit(miState*, zel_light_object_t*) {}

ZEL_EXPORT miBoolean zel_light_object(void* result, miState* state, zel_light_object_t* params) {
  if (params == nullptr) return 1;
  const zel_light_object_t& p = *params;
  if (p.source == 0 || mi_db_type(p.source) != miSCENE_STRING) return 1;

  const miTag source_instance = find_source_instance(p.source);
  if (source_instance == 0) return 1;

  const char* base = base_name(state);
  if (base == nullptr) {
    mi_warning(kBaseNameRefused);
    return 1;
  }
  const NameBuffer light_name = compose_name(base, kLightSuffix);
  const NameBuffer instance_name = compose_name(base, "::inst");
  const bool light_exists = name_exists(light_name);
  const bool instance_exists = name_exists(instance_name);

  const miTag light = define_light(light_name, light_exists, p, source_instance);
  // The host's own name for the light it defined; the one asked for if it
  // gives none back.
  const char* light_item = mi_api_tag_lookup(light);
  if (light_item == nullptr) light_item = light_name.data();
  const miTag light_instance =
      define_light_instance(instance_name, instance_exists, source_instance,
                            mi_mem_int_strdup(__FILE__, __LINE__, light_item));

  set_source_flag(source_instance, p.source_flag);
  mi_geoshader_add_result(result, light_instance);
  return 1;
}
