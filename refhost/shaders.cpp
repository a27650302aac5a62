// Shader declarations, the plug-in loader and shader instances with their
// parameter blocks, as a host lays them out and drives their lifecycle.
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "refhost/internal.h"

#ifndef ZEL_PLUGIN_PATH
#if defined(_WIN32)
#define ZEL_PLUGIN_PATH "zel_lumenfield.dll"
#else
#define ZEL_PLUGIN_PATH "zel_lumenfield.so"
#endif
#endif
#ifndef ZEL_DECL_PATH
#define ZEL_DECL_PATH "zel_lumenfield.decl"
#endif

namespace refhost {

namespace {

size_t type_size(const std::string& type) {
  if (type == "color") return 16;
  if (type == "vector") return 12;
  if (type == "boolean" || type == "integer" || type == "scalar" || type == "string" ||
      type == "lightprofile" || type == "shader" || type == "tag")
    return 4;
  throw std::runtime_error("unknown parameter type \"" + type + "\"");
}

std::vector<ShaderDecl>& declarations() {
  static auto* d = new std::vector<ShaderDecl>;
  return *d;
}

}  // namespace

const ParamField* ShaderDecl::field(std::string_view n) const {
  for (const auto& f : fields)
    if (f.name == n) return &f;
  return nullptr;
}

// Format: "shader NAME VERSION", then one "TYPE NAME" line per field in
// record order, then "end". '#' starts a comment.
std::vector<ShaderDecl> parse_declarations(const std::string& text) {
  std::vector<ShaderDecl> out;
  std::istringstream in(text);
  std::string line;
  ShaderDecl* current = nullptr;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string a, b, c;
    if (!(words >> a)) continue;
    words >> b >> c;
    const std::string where = "declarations line " + std::to_string(number);
    // Inside a declaration, "shader NAME" is a field holding a shader tag.
    const bool shader_field = a == "shader" && current != nullptr && c.empty();
    if (a == "shader" && !shader_field) {
      if (current != nullptr || b.empty()) throw std::runtime_error(where + ": misplaced shader");
      out.push_back({});
      current = &out.back();
      current->name = b;
      current->version = c.empty() ? 1 : std::stoi(c);
    } else if (a == "end") {
      if (current == nullptr) throw std::runtime_error(where + ": end without shader");
      current = nullptr;
    } else {
      if (current == nullptr || b.empty()) throw std::runtime_error(where + ": field outside a shader");
      const size_t size = type_size(a);
      current->fields.push_back({b, a, current->size, size});
      current->size += size;
    }
  }
  if (current != nullptr) throw std::runtime_error("declarations: missing end");
  return out;
}

void load_declarations(const std::string& path) {
  std::ifstream f(path);
  if (!f) throw std::runtime_error("cannot read shader declarations " + path);
  std::stringstream s;
  s << f.rdbuf();
  for (auto& d : parse_declarations(s.str())) {
    bool replaced = false;
    for (auto& old : declarations())
      if (old.name == d.name) {
        old = d;
        replaced = true;
      }
    if (!replaced) declarations().push_back(d);
  }
}

const ShaderDecl& declaration(const std::string& shader) {
  if (declarations().empty()) load_declarations(default_declaration_path());
  for (const auto& d : declarations())
    if (d.name == shader) return d;
  throw std::runtime_error("no declaration of shader " + shader);
}

std::string default_plugin_path() {
  const char* env = std::getenv("ZEL_PLUGIN");
  return env != nullptr ? env : ZEL_PLUGIN_PATH;
}

std::string default_declaration_path() {
  const char* env = std::getenv("ZEL_DECL");
  return env != nullptr ? env : ZEL_DECL_PATH;
}

// ---- plug-in ---------------------------------------------------------------

#if defined(_WIN32)
// On Windows the plug-in finds the host calls by name in this program, whose
// module it is handed before any shader runs.
Plugin::Plugin(const std::string& path) : path_(path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr)
    throw std::runtime_error("cannot load plug-in " + path + ": error " +
                             std::to_string(GetLastError()));
  handle_ = module;
  using SetModuleFn = void (*)(void*);
  auto set_module = reinterpret_cast<SetModuleFn>(symbol("miSetModuleHandle"));
  if (set_module == nullptr) throw std::runtime_error("plug-in has no miSetModuleHandle");
  set_module(GetModuleHandleA(nullptr));
}
#else
Plugin::Plugin(const std::string& path) : path_(path) {
  // An empty path means the program itself, for shaders linked into it.
  handle_ = dlopen(path.empty() ? nullptr : path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load plug-in: ") + dlerror());
}
#endif

Plugin::~Plugin() {
  // Global exit of every shader that had its global init.
  for (const auto& [name, g] : inited_) {
    using ExitFn = void (*)(miState*, void*);
    if (auto exit_fn = reinterpret_cast<ExitFn>(symbol(name + "_exit"))) {
      miState state{};
      exit_fn(&state, nullptr);
    }
  }
#if defined(_WIN32)
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
#else
  if (handle_ != nullptr) dlclose(handle_);
#endif
}

void* Plugin::symbol(const std::string& name) const {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name.c_str()));
#else
  return dlsym(handle_, name.c_str());
#endif
}

bool Plugin::global_init(const std::string& shader, miState* state, bool* wants_instance_init) {
  auto it = inited_.find(shader);
  if (it == inited_.end()) {
    using VersionFn = int (*)();
    auto version = reinterpret_cast<VersionFn>(symbol(shader + "_version"));
    if (version == nullptr) throw std::runtime_error("shader " + shader + " has no version");
    if (version() != declaration(shader).version)
      throw std::runtime_error("shader " + shader + ": version mismatch");
    Global g;
    using InitFn = void (*)(miState*, void*, miBoolean*);
    if (auto init = reinterpret_cast<InitFn>(symbol(shader + "_init"))) {
      miBoolean flag = 0;
      init(state, nullptr, &flag);
      g.wants_instance_init = flag != 0;
    }
    it = inited_.emplace(shader, g).first;
  }
  *wants_instance_init = it->second.wants_instance_init;
  return true;
}

// ---- shader instances ---------------------------------------------------

ShaderInstance::ShaderInstance(Plugin& plugin, const std::string& shader)
    : plugin_(plugin), shader_(shader), decl_(&declaration(shader)) {
  fn_ = reinterpret_cast<Fn>(plugin.symbol(shader));
  if (fn_ == nullptr) throw std::runtime_error("plug-in has no shader " + shader);
  init_ = reinterpret_cast<InitFn>(plugin.symbol(shader + "_init"));
  exit_ = reinterpret_cast<ExitFn>(plugin.symbol(shader + "_exit"));
  // The record, then one 32-bit connection slot per field at the same
  // distance (the connection offset) from each field.
  const size_t offset = (decl_->size + 7) / 8 * 8;
  block_.assign(offset * 2 + 8, 0);
  record_.fn.connection_offset = static_cast<int32_t>(offset);
  record_.fn.has_connections = 0;
  record_.owner = this;
}

ShaderInstance::~ShaderInstance() {
  if (inited_) exit();
}

const ParamField& ShaderInstance::field(const std::string& name, size_t min_size) const {
  const ParamField* f = decl_->field(name);
  if (f == nullptr) throw std::runtime_error(shader_ + " has no parameter \"" + name + "\"");
  if (f->size < min_size) throw std::runtime_error(shader_ + "." + name + ": wrong type");
  return *f;
}

void ShaderInstance::set_int(const std::string& name, int32_t value) {
  std::memcpy(block_.data() + field(name, 4).offset, &value, 4);
}
void ShaderInstance::set_float(const std::string& name, float value) {
  std::memcpy(block_.data() + field(name, 4).offset, &value, 4);
}
void ShaderInstance::set_color(const std::string& name, miColor value) {
  std::memcpy(block_.data() + field(name, 16).offset, &value, 16);
}
void ShaderInstance::set_tag(const std::string& name, miTag value) {
  std::memcpy(block_.data() + field(name, 4).offset, &value, 4);
}
miTag ShaderInstance::set_string(const std::string& name, std::string_view text) {
  const miTag tag = add_string(text);
  set_tag(name, tag);
  return tag;
}

void ShaderInstance::connect(const std::string& name, Provider provider) {
  const ParamField& f = field(name, 1);
  providers_[f.offset] = std::move(provider);
  const auto slot = static_cast<int32_t>(providers_.size());
  std::memcpy(block_.data() + f.offset + size_t(record_.fn.connection_offset), &slot, 4);
  record_.fn.has_connections = 1;
}

void* ShaderInstance::eval_connected(miState* state, const void* param) {
  const auto offset = size_t(static_cast<const unsigned char*>(param) - block_.data());
  auto it = providers_.find(offset);
  thread_local ThreadContext fallback;
  ThreadContext* ctx = state->host != nullptr ? static_cast<ThreadContext*>(state->host) : &fallback;
  unsigned char* out = ctx->eval_buffer[ctx->eval_next++ % 8];
  if (it == providers_.end()) {
    std::memcpy(out, param, 16 <= block_.size() - offset ? 16 : block_.size() - offset);
  } else {
    it->second(state, out);
  }
  return out;
}

void ShaderInstance::init(miState* state) {
  if (inited_) return;
  miState local = state != nullptr ? *state : miState{};
  local.shader = function();
  bool wants = false;
  plugin_.global_init(shader_, &local, &wants);
  if (wants && init_ != nullptr) {
    miBoolean flag = 0;
    init_(&local, params(), &flag);
  }
  inited_ = true;
  exit_state_ = local;
}

bool ShaderInstance::call(void* result, miState* state) {
  state->shader = function();
  return fn_(result, state, params()) != 0;
}

void ShaderInstance::exit(miState* state) {
  if (!inited_) return;
  miState local = state != nullptr ? *state : exit_state_;
  local.shader = function();
  if (exit_ != nullptr) exit_(&local, params());
  inited_ = false;
}

ThreadContext::ThreadContext(int t, uint64_t seed)
    : thread(t), rng(seed * 0x9E3779B97F4A7C15ull + uint64_t(t) + 1), sample_index(0) {}

miState make_state(ShaderInstance* instance, ThreadContext* thread, int ray_type,
                   miTag light_instance) {
  miState s{};
  s.type = ray_type;
  s.shader = instance != nullptr ? instance->function() : nullptr;
  s.thread = thread != nullptr ? thread->thread : 0;
  s.host = thread;
  s.light_instance = light_instance;
  return s;
}

}  // namespace refhost

extern "C" void* mi_phen_eval(miState* state, void* parameter) {
  if (state == nullptr || state->shader == nullptr) return parameter;
  auto* rec = reinterpret_cast<refhost::ShaderInstance::Record*>(state->shader);
  return rec->owner->eval_connected(state, parameter);
}
