// zel_lightprofile: defines a named light profile in the host's scene.
//
// The profile is defined as "zel_lightprofile::N" inside the host scope
// "zel_lightprofile", outside whatever scope the scene was being built in,
// so that lights and utilities anywhere in the scene find it by the same
// name. The host reads the photometric data from the file whose name the
// profile carries; the shader only records it, with the format and the four
// settings that tell the host how to read it.
#include "shaders/lightprofile.h"

#include "host/param.h"
#include "shaders/export.h"

using zel::eval;

namespace {

constexpr size_t kNameBufferSize = 1024;
constexpr size_t kScopeBufferSize = 1024;
constexpr size_t kScopeSeparatorLength = 2;  // the "::" that ends a scope prefix

constexpr const char* kNameTooLong = "Zel_lightprofile: Profile name too long, profile not defined";
constexpr const char* kScopeTooLong = "Zel_lightprofile: Scope name too long, profile not defined";

// The composed profile name for the string `tag` (no tag: an empty name);
// false when it does not fit the buffer. The string is unpinned again.
bool compose_name(miTag tag, char (&name)[kNameBufferSize]) {
  const char* text = tag != 0 ? static_cast<const char*>(mi_db_access(tag)) : nullptr;
  const size_t length = zel::bounded_length(text, kNameBufferSize);
  const bool fits = zel::compose_profile_name(name, sizeof name, text, length);
  if (text != nullptr) mi_db_unpin(tag);
  return fits;
}

enum class Scope { TopLevel, Inside, TooLong };

// Where the scene is being built, from the text the host gives for the
// empty name: the current scope's prefix, "a::" inside scope a. Inside a
// scope, `kept` receives the prefix less its closing "::", the name to
// reopen it by. A text shorter than that is the top level.
Scope current_scope(const char* applied, char (&kept)[kScopeBufferSize]) {
  kept[0] = '\0';
  const size_t length = zel::bounded_length(applied, kScopeBufferSize);
  if (length >= kScopeBufferSize) return Scope::TooLong;
  if (length < kScopeSeparatorLength) return Scope::TopLevel;
  const size_t keep = length - kScopeSeparatorLength;
  std::memcpy(kept, applied, keep);
  kept[keep] = '\0';
  return Scope::Inside;
}

// A new string element holding the file name's text, its tag in the record.
void store_file_name(miState* state, const zel_lightprofile_t* params, miLightprofile* record) {
  const miTag tag = eval(state, &params->file_name);
  const char* text = tag != 0 ? static_cast<const char*>(mi_db_access(tag)) : nullptr;
  const size_t length = text != nullptr ? std::strlen(text) : 0;
  auto* copy = static_cast<char*>(
      mi_db_create(&record->file_name, miSCENE_STRING, static_cast<int>(length + 1)));
  if (copy != nullptr) {
    if (length > 0) std::memcpy(copy, text, length);
    copy[length] = '\0';
    // Created pinned; the scene keeps the element, the shader lets go of it.
    mi_db_unpin(record->file_name);
  }
  if (text != nullptr) mi_db_unpin(tag);
}

void define_profile(miState* state, const zel_lightprofile_t* params, const char* name) {
  auto* record = static_cast<miLightprofile*>(
      mi_api_lightprofile_begin(mi_mem_int_strdup(__FILE__, __LINE__, name)));
  if (record == nullptr) return;  // the host refused the definition and said why
  store_file_name(state, params, record);
  record->source = 1;
  record->format = eval(state, &params->format) == miLP_STD_IES ? miLP_STD_IES : miLP_STD_EULUMDAT;
  record->setting_12 = eval(state, &params->first_setting);
  record->setting_28 = eval(state, &params->fourth_setting);
  record->setting_24 = eval(state, &params->third_setting);
  record->setting_20 = eval(state, &params->second_setting);
  mi_api_lightprofile_end();
}

}  // namespace

ZEL_EXPORT int zel_lightprofile_version(void) { return 1; }

// Defining the profile is the shader's only effect; `result` is not touched
// and the answer is always success.
ZEL_EXPORT miBoolean zel_lightprofile(void* result, miState* state, zel_lightprofile_t* params) {
  static_cast<void>(result);
  char name[kNameBufferSize];
  if (!compose_name(params->profile_name, name)) {
    mi_warning("%s", kNameTooLong);
    return 1;
  }
  // A profile of that name already exists: the new definition replaces it.
  if (mi_api_name_lookup(mi_mem_int_strdup(__FILE__, __LINE__, name)) != 0) mi_api_incremental(1);

  char scope[kScopeBufferSize];
  const Scope where =
      current_scope(mi_api_scope_apply(mi_mem_int_strdup(__FILE__, __LINE__, "")), scope);
  if (where == Scope::TooLong) {
    mi_warning("%s", kScopeTooLong);
    return 1;
  }
  // At the top level there is no scope to leave and none to return to.
  const bool inside = where == Scope::Inside;
  if (inside) mi_api_scope_end();
  mi_api_scope_begin(mi_mem_int_strdup(__FILE__, __LINE__, zel::kProfileScope));
  define_profile(state, params, name);
  mi_api_scope_end();
  if (inside) mi_api_scope_begin(mi_mem_int_strdup(__FILE__, __LINE__, scope));
  return 1;
}
