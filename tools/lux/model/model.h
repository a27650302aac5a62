// The scene built in the reference host: the plug-in's profile shader run
// for each profile, every light with its area light shader instance (and
// object lights through the light object shader), occluders and meshes as
// traceable geometry. Shader fields come from the scene file by name and are checked
// against the shaders' declarations.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "refhost/lightloop.h"
#include "refhost/refhost.h"
#include "tools/lux/model/photometry.h"
#include "tools/lux/scene/scene.h"

namespace lux {

// An emitting shape placed in the scene, for camera rays. In its frame a
// rectangle spans ±half_u along x and ±half_v along y and faces −z, a disc
// lies in the x–y plane facing −z, a cylinder's axis runs along z.
struct Emitter {
  enum Kind { None, Rectangle, Disc, Sphere, Cylinder, Solid } kind = None;
  Frame frame;                    // light space placed in the world
  double half_u = 0, half_v = 0;  // rectangle half extents along x and y
  double radius = 0;              // disc, sphere, cylinder
  double half_length = 0;         // cylinder, along z
  SolidDesc solid;                // object lights: the source object's shape
};

// The flux a kind of light emits before and after its scaling to a stated
// flux, by Light::kind.
struct FluxOfKind {
  double before = 0, after = 0;
};
using FluxMeasurements = std::map<std::string, FluxOfKind>;

struct Light {
  std::string name;
  std::string shape;  // "rectangle", "object", ... for reports
  // Lights of one kind emit the same light in their own frames (copies of
  // an array); empty for a light whose emission depends on where it stands.
  std::string kind;
  refhost::SceneLight scene;
  int samples = 0;                  // fixed emitter points per receiver; 0: by `accuracy`
  double accuracy = 1e-3;           // relative error aimed at per receiver
  double maintenance_factor = 1.0;  // maintained values are this fraction of new ones
  std::unique_ptr<refhost::ShaderInstance> shader;
  Emitter emitter;
  double opening_reflectance = 0;  // of the emitting face, to light that comes back to it
  // The flux the parameters state, in lumen, when the intensity is given as
  // a flux (lumen, or watt times the efficacy) without a profile.
  std::optional<double> stated_flux;
  // Why the numbers from this light are not plain lux, if they are not.
  std::vector<std::string> caveats;
  // The numbers are relative to the profile's peak, not lux: a profile in
  // relative mode whose scale the calculator could not set.
  bool relative = false;
  // What the photometric file the light follows says of the luminaire
  // (maker, product, lamp, colour, power, luminous opening).
  std::optional<LuminaireData> luminaire;
  // The input power in watt: the file's, or the light's output stated in
  // watt; none when neither states it.
  std::optional<double> power;
  // Where the emitting shape came from, when the file gave it.
  std::string opening_note;
  // How the calculator set the light's absolute scale (numbers from its
  // EULUMDAT file, the factor of a stated flux); null when it did not. The
  // same in words in `notes`.
  nlohmann::ordered_json photometry;
  std::vector<std::string> notes;
  // Host messages during the light's set-up.
  std::vector<std::string> messages;
};

class Model {
 public:
  // Builds `scene` in the host; throws Error naming the file and the
  // element and field at fault.
  Model(refhost::Plugin& plugin, const Scene& scene);
  ~Model();
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  const Scene& scene() const { return scene_; }
  std::vector<Light>& lights() { return lights_; }
  const std::vector<Light>& lights() const { return lights_; }
  // The host instance that places each occluder, and each surface (0 for a
  // calculation surface, which is not traced), in scene order.
  const std::vector<miTag>& occluder_instances() const { return occluder_instances_; }
  const std::vector<miTag>& surface_instances() const { return surface_instances_; }
  // The host's traced form of each of the scene's meshes, in scene order.
  const std::vector<std::shared_ptr<const refhost::TriangleMesh>>& meshes() const {
    return meshes_;
  }
  // The host instance that places each mesh, in scene order.
  const std::vector<miTag>& mesh_instances() const { return mesh_instances_; }

 private:
  void define_profile(const ProfileDesc& profile);
  void add_light(const LightDesc& desc);
  void add_object_light(const ObjectLightDesc& desc);
  void add_occluder(const OccluderDesc& desc);
  void add_reflecting_surface(const SurfaceDesc& desc);
  void add_mesh(const MeshDesc& desc);
  void init_light(Light& light);

  refhost::Plugin& plugin_;
  const Scene& scene_;
  std::vector<Light> lights_;
  std::vector<miTag> occluder_instances_;
  std::vector<miTag> surface_instances_;
  std::vector<std::unique_ptr<refhost::ShaderInstance>> helpers_;
  std::vector<std::pair<std::string, int>> profiles_;                      // name, format
  std::vector<std::pair<std::string, LuminaireData>> profile_luminaires_;  // name, data
  std::vector<std::shared_ptr<const refhost::TriangleMesh>> meshes_;
  std::vector<miTag> mesh_instances_;
  FluxMeasurements flux_of_kind_;
};

// A light as the scene would describe it with the luminous opening of its
// photometric file (in metres) as its emitting shape, for a light whose
// scene entry gives no shape: a rectangle with its length along the light's
// x (the C0–C180 plane) and its width along y, a disc, a vertical cylinder
// along the aim, a sphere. An ellipse becomes the disc of its area and a
// rectangle with luminous sides its bottom; a point, or a shape no light
// takes, leaves the light a point. `note` says what was taken.
LightDesc with_opening(const LightDesc& desc, const LuminousOpening& opening, const SceneUnit& unit,
                       std::string& note);

// The frame of a light: its −z axis along the aim, turned by `spin` degrees
// about it; the light's x axis stays as close to the world's x as it can.
Frame light_frame(Vec3 position, Vec3 aim, double spin_degrees);
// The same frame as a host matrix (row vectors, translation in the last row).
refhost::Matrix to_matrix(const Frame& frame);
// The host geometry of a solid.
refhost::Geometry to_geometry(const SolidDesc& solid);

}  // namespace lux
