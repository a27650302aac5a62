// The scene database: tagged elements with pin counts, names, and the
// queries the library asks about lights, instances and groups.
#include <cstdarg>
#include <cstring>

#include "refhost/internal.h"

namespace refhost::detail {

miTag add_element(int type, size_t size, const std::string& name) {
  Database& d = db();
  std::lock_guard<std::mutex> lock(d.mutex);
  auto e = std::make_unique<Element>();
  e->type = type;
  e->size = size;
  const size_t words = (size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t) + 1;
  e->storage = std::make_unique<std::max_align_t[]>(words);
  std::memset(e->storage.get(), 0, words * sizeof(std::max_align_t));
  e->name = name;
  d.elements.push_back(std::move(e));
  scene_edited(d);
  const auto tag = static_cast<miTag>(d.elements.size());
  if (!name.empty()) d.names[name] = tag;
  return tag;
}

std::string take_name(char* name) {
  if (name == nullptr) return {};
  std::string s(name);
  mi_mem_int_release(__FILE__, __LINE__, name);
  return s;
}

}  // namespace refhost::detail

namespace refhost {

using detail::counters;
using detail::db;
using detail::element;

miTag db_add(int type, size_t size, const std::string& name) {
  return detail::add_element(type, size, name);
}

void* db_data(miTag tag) {
  detail::Element* e = element(tag);
  return e != nullptr ? e->bytes() : nullptr;
}

size_t db_size(miTag tag) {
  detail::Element* e = element(tag);
  return e != nullptr ? e->size : 0;
}

int pin_count(miTag tag) {
  detail::Element* e = element(tag);
  return e != nullptr ? e->pins.load() : 0;
}

int total_pins() {
  int n = 0;
  for (auto& e : db().elements) n += e->pins.load();
  return n;
}

namespace detail {
Database& make_database() {
  static Database* const d = [] {
    auto* built = new Database;
    g_database.store(built, std::memory_order_release);
    return built;
  }();
  return *d;
}
}  // namespace detail

uint64_t lookup_count() { return counters().lookups(); }
uint64_t query_count(int code) { return counters().queries(code); }

miTag add_string(std::string_view text, const std::string& name) {
  const miTag tag = db_add(miSCENE_STRING, text.size() + 1, name);
  std::memcpy(db_data(tag), text.data(), text.size());
  return tag;
}

void name_element(miTag tag, const std::string& name) {
  detail::Element* e = element(tag);
  if (e == nullptr) return;
  std::lock_guard<std::mutex> lock(db().mutex);
  e->name = name;
  db().names[name] = tag;
}

miTag find(const std::string& name) {
  auto it = db().names.find(name);
  return it != db().names.end() ? it->second : 0;
}

std::string name_of(miTag tag) {
  detail::Element* e = element(tag);
  return e != nullptr ? e->name : std::string();
}

std::vector<miTag> elements_of_type(int type) {
  std::vector<miTag> out;
  for (size_t i = 0; i < db().elements.size(); ++i)
    if (db().elements[i]->type == type) out.push_back(static_cast<miTag>(i + 1));
  return out;
}

void reset() {
  detail::Database& d = db();
  std::lock_guard<std::mutex> lock(d.mutex);
  d.trace_view.store(nullptr, std::memory_order_release);
  d.trace_view_owners.clear();
  scene_edited(d);
  d.elements.clear();
  d.names.clear();
  counters().clear();
  d.base_name_tag = 0;
  d.geoshader_results.clear();
}

void set_base_name_tag(miTag tag) { db().base_name_tag = tag; }
std::vector<miTag> geoshader_results() { return db().geoshader_results; }

miTag add_light(const std::string& name, const LightDesc& desc) {
  const miTag tag = db_add(miSCENE_LIGHT, sizeof(LightRecord), name);
  LightRecord* l = light_record(tag);
  l->type = desc.type;
  l->area = desc.shape;
  l->exponent = desc.exponent;
  l->energy = desc.energy;
  l->origin = desc.origin;
  l->direction = desc.direction;
  l->spread = desc.spread;
  l->obj_instance = desc.obj_instance;
  switch (desc.shape) {
    case miLIGHT_RECTANGLE:
      l->edge_u = desc.edge_u;
      l->edge_v = desc.edge_v;
      break;
    case miLIGHT_DISC:
      l->edge_u = desc.normal;
      break;
    case miLIGHT_CYLINDER:
      l->edge_u = desc.axis;
      break;
    default:
      break;
  }
  l->radius = desc.radius;
  l->visible = 1;
  return tag;
}

LightRecord* light_record(miTag light) {
  detail::Element* e = element(light);
  if (e == nullptr || e->type != miSCENE_LIGHT) return nullptr;
  return reinterpret_cast<LightRecord*>(e->bytes());
}

miTag add_instance(const std::string& name, miTag item, const Matrix& local_to_world) {
  const miTag tag = db_add(miSCENE_INSTANCE, kInstanceRecordSize, name);
  unsigned char* r = static_cast<unsigned char*>(db_data(tag));
  std::memcpy(r + kInstanceItemOffset, &item, sizeof item);
  const Matrix world_to_local = inverse(local_to_world);
  std::memcpy(r + kInstanceGlobalToLocal, world_to_local.m, sizeof(Matrix));
  std::memcpy(r + kInstanceLocalToGlobal, local_to_world.m, sizeof(Matrix));
  detail::scene_edited(db());  // its item, set after the element was added
  return tag;
}

Matrix instance_local_to_world(miTag instance) {
  Matrix m = identity();
  if (const float* p = detail::instance_local_to_world(instance)) std::memcpy(m.m, p, sizeof m.m);
  return m;
}

miTag add_object(const std::string& name, const Geometry& geometry) {
  const miTag tag = db_add(miSCENE_OBJECT, 16, name);
  element(tag)->geometry = geometry;
  detail::scene_edited(db());
  return tag;
}

miTag add_group(const std::string& name, const std::vector<miTag>& members) {
  const miTag tag = db_add(miSCENE_GROUP, 16, name);
  element(tag)->members = members;
  return tag;
}

void set_group_members(miTag group, const std::vector<miTag>& members) {
  detail::Element* e = element(group);
  if (e == nullptr || e->type != miSCENE_GROUP) return;
  std::lock_guard<std::mutex> lock(db().mutex);
  e->members = members;
  detail::scene_edited(db());
}

const Geometry* object_geometry(miTag object) {
  detail::Element* e = element(object);
  return e != nullptr && e->type == miSCENE_OBJECT ? &e->geometry : nullptr;
}

}  // namespace refhost

namespace {

using refhost::LightRecord;

template <typename T>
miBoolean put(void* out, const T& value) {
  std::memcpy(out, &value, sizeof value);
  return 1;
}

miTag instance_item(miTag instance) {
  refhost::detail::Element* e = refhost::detail::element(instance);
  if (e == nullptr || e->type != miSCENE_INSTANCE) return 0;
  miTag item = 0;
  std::memcpy(&item, e->bytes() + refhost::kInstanceItemOffset, sizeof item);
  return item;
}

miBoolean light_query(int code, const LightRecord& l, void* out) {
  switch (code) {
    case miQ_LIGHT_TYPE: return put(out, l.type);
    case miQ_LIGHT_AREA: return put(out, l.area);
    case miQ_LIGHT_EXP: return put(out, l.exponent);
    case miQ_LIGHT_ENERGY: return put(out, l.energy);
    case miQ_LIGHT_ORIGIN: return put(out, l.origin);
    case miQ_LIGHT_DIRECTION: return put(out, l.direction);
    case miQ_LIGHT_SPREAD: return put(out, l.spread);
    case miQ_LIGHT_AREA_R_EDGE_U: return put(out, l.edge_u);
    case miQ_LIGHT_AREA_R_EDGE_V: return put(out, l.edge_v);
    case miQ_LIGHT_AREA_D_NORMAL: return put(out, l.edge_u);
    case miQ_LIGHT_AREA_C_AXIS: return put(out, l.edge_u);
    case miQ_LIGHT_AREA_D_RADIUS:
    case miQ_LIGHT_AREA_S_RADIUS:
    case miQ_LIGHT_AREA_C_RADIUS: return put(out, l.radius);
    default: return 0;
  }
}

}  // namespace

namespace refhost::detail {
// Answers of the tracing and profile services (trace.cpp, profiles.cpp).
miBoolean query_object_light_area(miTag light_instance, float* area);
miBoolean query_profile_maximum(miTag profile, float* value);
}  // namespace refhost::detail

namespace {
miBoolean user_pointer_query(miState* state, void* result) {
  refhost::detail::counters().count_query(miQ_FUNC_USERPTR);
  if (result == nullptr || state == nullptr || state->shader == nullptr) return 0;
  auto* rec = reinterpret_cast<refhost::ShaderInstance::Record*>(state->shader);
  return put(result, &rec->user);
}

// Every query but the user pointer's; `args` holds what a query needs
// beyond the tag (the member index of miQ_GROUP_KID).
[[gnu::noinline]] miBoolean answer_query(int code, miState* state, miTag tag, void* result,
                                         va_list args) {
  using namespace refhost::detail;
  counters().count_query(code);
  if (result == nullptr) return 0;
  switch (code) {
    case miQ_INST_ITEM: {
      const miTag item = instance_item(tag);
      return item != 0 ? put(result, item) : 0;
    }
    case miQ_INST_GLOBAL_TO_LOCAL: {
      const float* m = instance_local_to_world(tag);
      return m != nullptr ? put(result, m) : 0;
    }
    case miQ_INST_FLAG: {
      Element* e = element(tag);
      if (e == nullptr || e->type != miSCENE_INSTANCE) return 0;
      return put(result, int32_t(e->bytes()[refhost::kInstanceFlagOffset]));
    }
    case miQ_GROUP_NKIDS: {
      Element* e = element(tag);
      if (e == nullptr || e->type != miSCENE_GROUP) return 0;
      return put(result, int32_t(e->members.size()));
    }
    case miQ_GROUP_KID: {
      const int index = va_arg(args, int);
      Element* e = element(tag);
      if (e == nullptr || e->type != miSCENE_GROUP || index < 0 ||
          size_t(index) >= e->members.size())
        return 0;
      return put(result, e->members[size_t(index)]);
    }
    case miQ_NAME_BASE:
      return db().base_name_tag != 0 ? put(result, db().base_name_tag) : 0;
    case miQ_LIGHT_OBJ_AREA:
      return query_object_light_area(state != nullptr && tag == 0 ? state->light_instance : tag,
                                     static_cast<float*>(result));
    case miQ_LIGHTPROFILE_MAXVAL:
      return query_profile_maximum(tag, static_cast<float*>(result));
    default: {
      const LightRecord* l = refhost::light_record(tag);
      return l != nullptr ? light_query(code, *l, result) : 0;
    }
  }
}

}  // namespace

extern "C" {

int mi_db_type(miTag tag) {
  refhost::detail::counters().count_lookup();
  refhost::detail::Element* e = refhost::detail::element(tag);
  return e != nullptr ? e->type : miSCENE_NONE;
}

void* mi_db_access(miTag tag) {
  refhost::detail::counters().count_lookup();
  refhost::detail::Element* e = refhost::detail::element(tag);
  if (e == nullptr) {
    mi_error("host: access of an unknown tag %u", tag);
    return nullptr;
  }
  e->pins.fetch_add(1);
  return e->bytes();
}

void mi_db_unpin(miTag tag) {
  refhost::detail::Element* e = refhost::detail::element(tag);
  if (e == nullptr) return;
  if (e->pins.fetch_sub(1) <= 0) {
    e->pins.fetch_add(1);
    mi_error("host: unpin of tag %u that is not pinned", tag);
  }
}

void* mi_db_create(miTag* tag, int type, int size) {
  const miTag t = refhost::detail::add_element(type, size > 0 ? size_t(size) : 0, {});
  refhost::detail::element(t)->pins.fetch_add(1);  // created pinned, like an access
  if (tag != nullptr) *tag = t;
  return refhost::detail::element(t)->bytes();
}

miBoolean mi_query(int code, miState* state, miTag tag, void* result, ...) {
  // Every light-shader call asks for its user pointer first: answer it
  // before anything else.
  if (code == miQ_FUNC_USERPTR) return user_pointer_query(state, result);
  va_list args;
  va_start(args, result);
  const miBoolean answer = answer_query(code, state, tag, result, args);
  va_end(args);
  return answer;
}

}  // extern "C"
