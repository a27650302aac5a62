// Scene editing: definitions of lights, instances and light profiles by
// name, incremental redefinition, scopes and name look-ups. Every name the
// library hands over is a host-allocated copy that the host takes over.
//
// Scopes qualify names: inside the scopes a and b, a definition of x is
// named a::b::x, unless the name already carries that prefix; a look-up of
// x tries a::b::x, then a::x, then x.
#include "refhost/editing.h"

#include <cstring>

#include "refhost/internal.h"
#include "refhost/profiles.h"

namespace {

using refhost::detail::counters;
using refhost::detail::db;
using refhost::detail::element;
using refhost::detail::take_name;

struct Editing {
  std::mutex mutex;
  bool incremental = false;
  std::vector<std::string> scopes;
  std::string scope_text;  // what mi_api_scope_apply last returned
  struct Pending {
    int type = 0;
    miTag tag = 0;
    std::string name;
  } pending;
  std::vector<std::string> log;
};

Editing& editing() {
  static Editing* e = new Editing;
  return *e;
}

void note(const std::string& entry) { editing().log.push_back(entry); }

// The prefix of the first `depth` open scopes: "a::b::" for a and b.
std::string scope_prefix_of(size_t depth) {
  std::string prefix;
  const auto& scopes = editing().scopes;
  for (size_t i = 0; i < depth && i < scopes.size(); ++i) prefix += scopes[i] + "::";
  return prefix;
}

// The name a definition made now receives.
std::string qualified(const std::string& name) {
  const std::string prefix = scope_prefix_of(editing().scopes.size());
  return name.rfind(prefix, 0) == 0 ? name : prefix + name;
}

// The element a name means here: the innermost scope's first.
miTag resolve(const std::string& name) {
  for (size_t depth = editing().scopes.size() + 1; depth-- > 0;)
    if (const miTag tag = refhost::find(scope_prefix_of(depth) + name)) return tag;
  return 0;
}

// Starts the definition of `name`: its existing element when it is being
// redefined (its other contents kept), else a new one.
void* begin_definition(int type, size_t size, const std::string& what, char* name_copy) {
  Editing& ed = editing();
  const std::string given = take_name(name_copy);
  note(what + "_begin(" + given + ")");
  const std::string name = qualified(given);
  miTag tag = refhost::find(name);
  refhost::detail::Element* e = element(tag);
  if (e != nullptr && e->type == type && ed.incremental) {
    ed.pending = {type, tag, name};
    return e->bytes();
  }
  if (e != nullptr)
    mi_warning("host: %s \"%s\" redefined without incremental mode", what.c_str(), name.c_str());
  tag = refhost::detail::add_element(type, size, {});
  ed.pending = {type, tag, name};
  return element(tag)->bytes();
}

miTag end_definition(int type) {
  Editing& ed = editing();
  if (ed.pending.type != type || ed.pending.tag == 0) {
    mi_error("host: end of a definition that was not begun");
    return 0;
  }
  const miTag tag = ed.pending.tag;
  refhost::name_element(tag, ed.pending.name);
  ed.pending = {};
  return tag;
}

// An instance is defined through a block that gives its placement first:
// local-to-world at byte 8, its inverse at byte 72. The stored record keeps
// them the other way round (world-to-local first, as rendering reads it);
// the other bytes are the same in both. Swapping the two matrices turns
// either form into the other.
unsigned char* instance_definition_block() {
  alignas(16) static unsigned char block[refhost::kInstanceRecordSize];
  return block;
}

void swap_instance_matrices(unsigned char* record) {
  unsigned char first[sizeof(refhost::Matrix)];
  std::memcpy(first, record + refhost::kDefinitionLocalToGlobal, sizeof first);
  std::memcpy(record + refhost::kDefinitionLocalToGlobal,
              record + refhost::kDefinitionGlobalToLocal, sizeof first);
  std::memcpy(record + refhost::kDefinitionGlobalToLocal, first, sizeof first);
}

}  // namespace

namespace refhost {

std::vector<std::string> edit_log() { return editing().log; }
void clear_edit_log() { editing().log.clear(); }
bool incremental_mode() { return editing().incremental; }
void reset_editing() {
  Editing& ed = editing();
  ed.incremental = false;
  ed.scopes.clear();
  ed.scope_text.clear();
  ed.pending = {};
  ed.log.clear();
}

std::string scope_prefix() { return scope_prefix_of(editing().scopes.size()); }
size_t scope_depth() { return editing().scopes.size(); }
void enter_scope(const std::string& name) { editing().scopes.push_back(name); }
void leave_scope() {
  if (!editing().scopes.empty()) editing().scopes.pop_back();
}

}  // namespace refhost

extern "C" {

miTag mi_api_name_lookup(char* name) {
  counters().count_lookup();
  const std::string n = take_name(name);
  note("name_lookup(" + n + ")");
  return resolve(n);
}

miTag mi_api_lightprofile_lookup(char* name) {
  counters().count_lookup();
  const std::string n = take_name(name);
  note("lightprofile_lookup(" + n + ")");
  const miTag tag = resolve(n);
  refhost::detail::Element* e = element(tag);
  return e != nullptr && e->type == miSCENE_LIGHTPROFILE ? tag : 0;
}

char* mi_api_tag_lookup(miTag tag) {
  counters().count_lookup();
  refhost::detail::Element* e = element(tag);
  return e != nullptr && !e->name.empty() ? e->name.data() : nullptr;
}

miBoolean mi_api_incremental(miBoolean on) {
  editing().incremental = on != 0;
  note(on != 0 ? "incremental(1)" : "incremental(0)");
  return 1;
}

void* mi_api_light_begin(char* name) {
  return begin_definition(miSCENE_LIGHT, sizeof(refhost::LightRecord), "light", name);
}

miTag mi_api_light_end(void) {
  note("light_end");
  return end_definition(miSCENE_LIGHT);
}

void* mi_api_instance_begin(char* name) {
  void* r = begin_definition(miSCENE_INSTANCE, refhost::kInstanceRecordSize, "instance", name);
  // The caller fills a definition block; a redefinition starts from what
  // the instance holds.
  unsigned char* block = instance_definition_block();
  std::memcpy(block, r, refhost::kInstanceRecordSize);
  swap_instance_matrices(block);
  return block;
}

miTag mi_api_instance_end(char* item_name, miTag, miTag) {
  const std::string item = take_name(item_name);
  note("instance_end(" + item + ")");
  const miTag item_tag = resolve(item);
  const miTag tag = end_definition(miSCENE_INSTANCE);
  if (tag == 0) return 0;
  if (item_tag == 0) mi_error("host: instance of unknown item \"%s\"", item.c_str());
  auto* record = static_cast<unsigned char*>(refhost::db_data(tag));
  unsigned char* block = instance_definition_block();
  swap_instance_matrices(block);
  std::memcpy(record, block, refhost::kInstanceRecordSize);
  std::memcpy(record + refhost::kInstanceItemOffset, &item_tag, sizeof item_tag);
  refhost::detail::scene_edited(db());
  return tag;
}

void* mi_api_lightprofile_begin(char* name) {
  return begin_definition(miSCENE_LIGHTPROFILE, refhost::kProfileRecordSize, "lightprofile", name);
}

miTag mi_api_lightprofile_end(void) {
  note("lightprofile_end");
  return end_definition(miSCENE_LIGHTPROFILE);
}

miBoolean mi_api_scope_begin(char* name) {
  const std::string n = take_name(name);
  note("scope_begin(" + n + ")");
  editing().scopes.push_back(n);
  return 1;
}

miBoolean mi_api_scope_end(void) {
  note("scope_end");
  Editing& ed = editing();
  if (ed.scopes.empty()) {
    mi_error("host: scope end at the top level");
    return 0;
  }
  ed.scopes.pop_back();
  return 1;
}

// The name as seen from the current scope: every open scope's name followed
// by "::", then the name itself.
char* mi_api_scope_apply(char* name) {
  Editing& ed = editing();
  const std::string n = take_name(name);
  note("scope_apply(" + n + ")");
  ed.scope_text.clear();
  for (const auto& s : ed.scopes) ed.scope_text += s + "::";
  ed.scope_text += n;
  return ed.scope_text.data();
}

miBoolean mi_geoshader_add_result(void*, miTag item) {
  db().geoshader_results.push_back(item);
  return 1;
}

}  // extern "C"
