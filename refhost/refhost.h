// The reference host: a small, real implementation of every host call the
// library makes, plus the C++ side that tests, benchmarks and tools use to
// build scenes, load the plug-in and drive its shaders as a renderer would.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/shader_api.h"

namespace refhost {

// ---- memory ----------------------------------------------------------------

struct BlockInfo {
  std::string file;
  int line;
  size_t size;
};
// Blocks allocated and not yet released, with where they were allocated.
std::vector<BlockInfo> live_blocks();
// Live blocks whose allocating file name contains `file_part`.
size_t live_blocks_from(std::string_view file_part);
// Allocations made since the process started (monotonic; compare deltas).
uint64_t allocation_count();

// ---- messages ----------------------------------------------------------------

enum class MessageKind { Warning, Error };
struct Message {
  MessageKind kind;
  std::string text;
};
std::vector<Message> messages();
std::vector<std::string> warnings();
std::vector<std::string> errors();
void clear_messages();
// Print messages to standard error as they arrive (on by default).
void set_echo(bool on);

// ---- database ----------------------------------------------------------------

// Makes an element of `type` with `size` zeroed bytes; named if `name` is set.
miTag db_add(int type, size_t size, const std::string& name = {});
// The element's bytes, without pinning (for the host's own use and tests).
void* db_data(miTag tag);
size_t db_size(miTag tag);
int pin_count(miTag tag);
// Sum of the pin counts of all elements.
int total_pins();
// Locks taken with mi_lock since the process started.
uint64_t locks_taken();
// Database lookups (mi_db_access, mi_db_type, name and tag look-ups).
uint64_t lookup_count();
// Queries answered, by query code.
uint64_t query_count(int code);
miTag add_string(std::string_view text, const std::string& name = {});
// Registers `tag` under `name` (replacing a namesake) / finds a name.
void name_element(miTag tag, const std::string& name);
miTag find(const std::string& name);
std::string name_of(miTag tag);
// Drops the whole scene, names, messages and counters of the database.
void reset();

// ---- transforms (row vectors: p' = p · M, translation in m[12..14]) -------

struct Matrix {
  float m[16];
};
Matrix identity();
Matrix translate(float x, float y, float z);
// Rotation by angles in degrees about x, then y, then z.
Matrix rotate_xyz(float x_deg, float y_deg, float z_deg);
Matrix multiply(const Matrix& a, const Matrix& b);  // a then b
Matrix inverse(const Matrix& a);
// Inverts a 4×4 matrix; false when it is singular.
bool invert_matrix(const float* in, float* out);
miVector transform_point(const miVector& p, const Matrix& m);
miVector transform_vector(const miVector& v, const Matrix& m);

// ---- scene -------------------------------------------------------------------

// A light record as this host lays it out (bytes given for the fields that a
// scene-building shader may write).
struct LightRecord {
  int32_t type;             //   0 light type (0 point, 1 directional, 2 spot)
  int32_t area;             //   4 emitter shape code
  float exponent;           //   8 decay exponent (bits copied as they are)
  int32_t caustic_photons;  //  12
  int32_t global_photons;   //  16
  miColor energy;           //  20 r, g, b at 20, 24, 28; a at 32
  miTag shader;             //  36 light shader (a shader instance)
  miTag emitter;            //  40 photon emission shader
  miVector origin;          //  44 light space
  miVector direction;       //  56 spot direction, light space
  float spread;             //  68 cosine of the spot cone's half angle
  miTag obj_instance;       //  72 instance whose geometry emits (object lights)
  miVector edge_u;          //  76 rectangle first edge, disc normal, cylinder axis
  float radius;             //  88 disc, sphere and cylinder radius
  int32_t reserved0;        //  92
  int16_t samples[5];       //  96 sample counts: u, v, low u, low v, low level
  int16_t reserved1;        // 106
  miVector edge_v;          // 108 rectangle second edge
  int32_t reserved2[2];     // 120
  int32_t visible;          // 128 the emitter is seen by camera rays
};
static_assert(sizeof(LightRecord) == 132);
static_assert(offsetof(LightRecord, obj_instance) == 72);
static_assert(offsetof(LightRecord, samples) == 96);
static_assert(offsetof(LightRecord, visible) == 128);

struct LightDesc {
  int type = miLIGHT_POINT;
  int shape = miLIGHT_NONE;
  miVector origin{0, 0, 0};
  miVector direction{0, 0, -1};
  float spread = -1.0f;  // cosine of the spot cone's half angle
  float exponent = 2.0f;
  miColor energy{1, 1, 1, 1};
  miVector edge_u{0, 0, 0};  // rectangle: half-extent edges along x and y
  miVector edge_v{0, 0, 0};
  miVector normal{0, 0, 1};  // disc normal
  miVector axis{0, 0, 1};    // cylinder half axis
  float radius = 0.0f;
  miTag obj_instance = 0;
};
miTag add_light(const std::string& name, const LightDesc& desc);
LightRecord* light_record(miTag light);

// Instance record bytes: 0 word, 4 item, 8 world-to-local matrix, 72
// local-to-world matrix, 254 flag byte.
constexpr size_t kInstanceRecordSize = 256;
constexpr size_t kInstanceItemOffset = 4;
constexpr size_t kInstanceGlobalToLocal = 8;
constexpr size_t kInstanceLocalToGlobal = 72;
constexpr size_t kInstanceFlagOffset = 254;
// The block that mi_api_instance_begin hands out for a definition gives the
// placement first: local-to-world at 8, world-to-local at 72. The host
// stores it in record order at mi_api_instance_end, and a redefinition's
// block starts from the stored record in definition order.
constexpr size_t kDefinitionLocalToGlobal = 8;
constexpr size_t kDefinitionGlobalToLocal = 72;
miTag add_instance(const std::string& name, miTag item, const Matrix& local_to_world);
Matrix instance_local_to_world(miTag instance);

// A triangle mesh, ready to be traced (refhost/embree.h); shared by every
// object that holds it and freed with the last.
struct TriangleMesh;

// Scene geometry for tracing. Rectangles span center ± u ± v; discs have a
// centre, normal and radius; spheres a centre and radius; boxes min and max;
// meshes their triangles.
struct Geometry {
  enum Kind { Plane, Rectangle, Disc, Sphere, Box, Mesh } kind = Plane;
  miVector center{0, 0, 0};
  miVector u{1, 0, 0}, v{0, 1, 0};
  miVector normal{0, 0, 1};
  float radius = 1.0f;
  miVector min{0, 0, 0}, max{0, 0, 0};
  miColor transparency{0, 0, 0, 0};  // fraction let through, per channel
  bool casts_shadow = true;
  std::shared_ptr<const TriangleMesh> mesh;  // meshes
};
miTag add_object(const std::string& name, const Geometry& geometry);
// An object made of triangles: `vertices` holds x, y, z of each vertex,
// `triangles` three vertex indices per triangle. The mesh is prepared for
// tracing once, here; it is traced from any number of threads afterwards.
// Throws std::invalid_argument for an empty mesh or an index out of range.
miTag add_mesh(const std::string& name, std::vector<float> vertices,
               std::vector<uint32_t> triangles, const miColor& transparency = {0, 0, 0, 0});
miTag add_group(const std::string& name, const std::vector<miTag>& members);
// Gives an existing group new members, as an incremental change of the scene
// would; nothing stops a group from then holding an instance of itself.
void set_group_members(miTag group, const std::vector<miTag>& members);
const Geometry* object_geometry(miTag object);
std::vector<miTag> elements_of_type(int type);

// Query 141: the tag whose name the scene-building shaders use as base name.
void set_base_name_tag(miTag tag);
// What mi_geoshader_add_result received, in order.
std::vector<miTag> geoshader_results();

// ---- colour ------------------------------------------------------------------

// When off, mi_colorprofile_ciexyz_to_render leaves XYZ as it is.
void set_xyz_to_render(bool on);

// ---- shaders -----------------------------------------------------------------

struct ParamField {
  std::string name;
  std::string type;  // boolean integer scalar color vector string lightprofile shader ...
  size_t offset;
  size_t size;
};
struct ShaderDecl {
  std::string name;
  int version = 1;
  std::vector<ParamField> fields;
  size_t size = 0;
  const ParamField* field(std::string_view name) const;
};
// Reads a declaration file; returns the shaders it declares.
std::vector<ShaderDecl> parse_declarations(const std::string& text);
void load_declarations(const std::string& path);
const ShaderDecl& declaration(const std::string& shader);

// A loaded plug-in.
class Plugin {
 public:
  // Loads the plug-in at `path`; an empty path stands for the running program
  // (shaders linked in, entry points exported).
  explicit Plugin(const std::string& path);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;
  void* symbol(const std::string& name) const;
  // Version check and global init of a shader, once per plug-in.
  bool global_init(const std::string& shader, miState* state, bool* wants_instance_init);

 private:
  void* handle_ = nullptr;
  std::string path_;
  struct Global {
    bool wants_instance_init = false;
  };
  std::map<std::string, Global> inited_;
};

// Path of the built plug-in and declaration file (from the build).
std::string default_plugin_path();
std::string default_declaration_path();

// Provides the value of a connected parameter.
using Provider = std::function<void(miState* state, void* out)>;

class ShaderInstance {
 public:
  ShaderInstance(Plugin& plugin, const std::string& shader);
  ~ShaderInstance();
  ShaderInstance(const ShaderInstance&) = delete;
  ShaderInstance& operator=(const ShaderInstance&) = delete;

  void set_int(const std::string& field, int32_t value);
  void set_float(const std::string& field, float value);
  void set_color(const std::string& field, miColor value);
  void set_tag(const std::string& field, miTag value);
  // Stores `text` as a new string element and its tag in the field.
  miTag set_string(const std::string& field, std::string_view text);
  void connect(const std::string& field, Provider provider);

  // Per-instance init (after the plug-in's global init), once.
  void init(miState* state);
  bool call(void* result, miState* state);
  void exit(miState* state = nullptr);

  void* params() { return block_.data(); }
  template <typename T>
  T* params_as() {
    return reinterpret_cast<T*>(block_.data());
  }
  miFunction* function() { return &record_.fn; }
  void* user() const { return record_.user; }
  void set_user(void* p) { record_.user = p; }
  const ShaderDecl& decl() const { return *decl_; }
  bool initialized() const { return inited_; }

  // Layout shared with the host calls: the function record comes first.
  struct Record {
    miFunction fn;
    void* user;
    ShaderInstance* owner;
  };
  void* eval_connected(miState* state, const void* param);

 private:
  const ParamField& field(const std::string& name, size_t min_size) const;
  Plugin& plugin_;
  std::string shader_;
  const ShaderDecl* decl_;
  Record record_{};
  std::vector<unsigned char> block_;
  std::map<size_t, Provider> providers_;
  using Fn = int (*)(void*, miState*, void*);
  using InitFn = void (*)(miState*, void*, miBoolean*);
  using ExitFn = void (*)(miState*, void*);
  Fn fn_ = nullptr;
  InitFn init_ = nullptr;
  ExitFn exit_ = nullptr;
  bool inited_ = false;
  miState exit_state_{};
};

// A render thread's context: its sampler and scratch space for the host.
struct ThreadContext {
  explicit ThreadContext(int thread = 0, uint64_t seed = 0);
  int thread;
  uint64_t rng;           // per-thread random stream
  uint64_t sample_index;  // low-discrepancy sequence position
  uint64_t sample_shift = 0;  // the thread's random shift of that sequence, drawn at first use
  alignas(16) unsigned char eval_buffer[8][64];
  unsigned eval_next = 0;
};

// A state for calls of `instance` about the light instance `light_instance`.
miState make_state(ShaderInstance* instance, ThreadContext* thread, int ray_type,
                   miTag light_instance = 0);

}  // namespace refhost

namespace refhost {
// Scene-editing calls in order ("incremental(1)", "scope_begin(a)", ...).
std::vector<std::string> edit_log();
void clear_edit_log();
bool incremental_mode();
void reset_editing();
}  // namespace refhost

namespace refhost {
// Photons handed to mi_photon_light, in order.
struct Photon {
  miVector origin;
  miVector direction;
  miColor energy;
};
std::vector<Photon> photons();
void clear_photons();
void set_photon_recording(bool on);
// A uniform number in [0, 1) from the thread's stream.
double uniform01(ThreadContext& thread);
}  // namespace refhost
