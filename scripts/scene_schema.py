#!/usr/bin/env python3
# Writes docs/scene.schema.json, the JSON Schema of the zel-lux scene file,
# from the key lists below and the shaders' declarations (shaders/*.decl).
# Usage: scripts/scene_schema.py . > docs/scene.schema.json
import json, re, sys
src = sys.argv[1]
def decl(name):
    fields = []
    text = open(f"{src}/shaders/{name}.decl").read()
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith('#') or line.startswith('shader') or line == 'end': continue
        t, n = line.split()
        fields.append((t, n))
    return fields
TYPE = {
  "boolean": {"$ref": "#/$defs/flag"},
  "integer": {"$ref": "#/$defs/int32"},
  "scalar": {"$ref": "#/$defs/single"},
  "color": {"$ref": "#/$defs/colour"},
  "vector": {"$ref": "#/$defs/single3"},
  "string": {"type": "string"},
  "lightprofile": {"type": "string", "description": "the name of a profile of the scene"},
}
def shader_def(name, reserved, desc):
    props = {}
    for t, n in decl(name):
        if n in reserved or t not in TYPE: continue
        props[n] = dict(TYPE[t])
    return {"type": "object", "description": desc, "additionalProperties": False, "properties": props}
vec3 = {"$ref": "#/$defs/vec3"}
def obj(desc, props, required=()):
    d = {"type": "object", "description": desc, "additionalProperties": False, "properties": props}
    if required: d["required"] = list(required)
    return d
name = {"type": "string", "minLength": 1, "description": "unique; names the element in messages and outputs"}
positive = {"type": "number", "exclusiveMinimum": 0}
non_negative = {"type": "number", "minimum": 0}
fraction = {"type": "number", "minimum": 0, "maximum": 1}
reflectance = {"type": "number", "minimum": 0, "exclusiveMaximum": 1,
               "description": "luminous reflectance, 0 <= rho < 1"}
solid_props = {
  "shape": {"enum": ["rectangle", "disc", "sphere", "box"]},
  "corner": vec3, "u": vec3, "v": vec3, "center": vec3, "normal": vec3,
  "radius": positive, "min": vec3, "max": vec3,
}
# The built-in task table (tools/lux/scene/tasks.cpp): reference number and name.
TASKS = [("6.1.1", "corridor"), ("6.26.2", "office"), ("6.36.1", "classroom")]
units = ["metre", "meter", "m", "decimetre", "decimeter", "dm", "centimetre", "centimeter", "cm",
         "millimetre", "millimeter", "mm", "foot", "feet", "ft", "inch", "inches", "in"]
schema = {
  "$schema": "https://json-schema.org/draft/2020-12/schema",
  "$id": "https://zel-lumenfield.invalid/scene.schema.json",
  "title": "zel-lux scene file",
  "description": "A room's lights, profiles, occluders and the surfaces on which illuminance is calculated (docs/lux.md). Lengths are in the scene unit, angles in degrees.",
  "type": "object",
  "additionalProperties": False,
  "properties": {
    "title": {"type": "string", "description": "shown in the summary"},
    "scene_unit": {"enum": units, "default": "metre"},
    "samples": {"type": "integer", "minimum": 1, "maximum": 1048576,
                "description": "a fixed count of emitter points per light and grid point"},
    "accuracy": {"type": "number", "minimum": 1e-6, "maximum": 0.1, "default": 0.001,
                 "description": "relative error aimed at per light and point when no samples are fixed"},
    "profiles": {"type": "array", "items": {"$ref": "#/$defs/profile"}},
    "lights": {"type": "array", "items": {"$ref": "#/$defs/light"}},
    "light_objects": {"type": "array", "items": {"$ref": "#/$defs/light_object"}},
    "occluders": {"type": "array", "items": {"$ref": "#/$defs/occluder"}},
    "surfaces": {"type": "array", "items": {"$ref": "#/$defs/surface"}},
    "view": {"$ref": "#/$defs/view"},
    "meshes": {"type": "array", "items": {"$ref": "#/$defs/mesh"}},
    "points": {"type": "array", "items": {"$ref": "#/$defs/point_list"}},
    "maintenance_factor": {"$ref": "#/$defs/maintenance_factor"},
    "observers": {"type": "array", "items": {"$ref": "#/$defs/observer"}},
    "cylindrical": {"type": "array", "items": {"$ref": "#/$defs/cylindrical"}},
    "ugr": {"$ref": "#/$defs/ugr"},
    "room": {"$ref": "#/$defs/room"},
    "interreflection": {"$ref": "#/$defs/interreflection"},
  },
  "$defs": {
    "vec3": {"type": "array", "items": {"type": "number"}, "minItems": 3, "maxItems": 3,
             "description": "[x, y, z]"},
    "single": {"type": "number", "minimum": -3.4028234663852886e38, "maximum": 3.4028234663852886e38,
               "description": "a number the shaders take in single precision"},
    "single3": {"type": "array", "items": {"$ref": "#/$defs/single"}, "minItems": 3, "maxItems": 3},
    "colour": {"type": "array", "items": {"$ref": "#/$defs/single"}, "minItems": 3, "maxItems": 4,
               "description": "[r, g, b] or [r, g, b, a]"},
    "int32": {"type": "integer", "minimum": -2147483648, "maximum": 2147483647},
    "flag": {"anyOf": [{"type": "boolean"}, {"enum": [0, 1]}]},
    "samples": {"type": "integer", "minimum": 1, "maximum": 1048576},
    "profile": obj("a photometric file, defined by the zel_lightprofile shader", {
        "name": name,
        "file": {"type": "string", "minLength": 1, "description": "relative to the scene file"},
        "format": {"enum": ["ies", "eulumdat", 1, 2]},
        "shader": {"$ref": "#/$defs/lightprofile_fields"},
    }, ["name", "file"]),
    "light": obj("a light with the zel_lumenfield area light shader", {
        "name": name,
        "type": {"enum": ["point", "spot"], "default": "point"},
        "shape": {"enum": ["point", "rectangle", "disc", "sphere", "cylinder"], "default": "point"},
        "size": {"type": "array", "items": positive, "minItems": 2, "maxItems": 2,
                 "description": "rectangle: [width, height]"},
        "radius": positive, "length": positive,
        "position": vec3, "aim": vec3,
        "spin": {"type": "number"}, "decay": {"type": "number"},
        "spot_direction": vec3,
        "cone_angle": {"type": "number", "exclusiveMinimum": 0, "maximum": 180},
        "samples": {"$ref": "#/$defs/samples"},
        "maintenance_factor": {"$ref": "#/$defs/maintenance_factor"},
        "array": {"$ref": "#/$defs/array"},
        "flux": {"type": "number", "exclusiveMinimum": 0,
                 "description": "lumen the light is to emit; the calculator scales it to that"},
        "shader": {"$ref": "#/$defs/lumenfield_fields"},
    }, ["name", "position"]),
    "light_object": obj("an object that emits through the zel_light_object shader", dict(solid_props, **{
        "name": name, "decay": {"type": "number"},
        "samples": {"$ref": "#/$defs/samples"},
        "shader": {"$ref": "#/$defs/lumenfield_fields"},
        "object_shader": {"$ref": "#/$defs/light_object_fields"},
        "maintenance_factor": {"$ref": "#/$defs/maintenance_factor"},
        "flux": {"type": "number", "exclusiveMinimum": 0,
                 "description": "lumen the light is to emit; the calculator scales it to that"},
    }), ["name", "shape"]),
    "occluder": obj("a solid that casts shadows", dict(solid_props, **{
        "name": name,
        "transparency": {"anyOf": [fraction, {"type": "array", "items": fraction, "minItems": 3, "maxItems": 3}]},
        "reflectance": reflectance,
    }), ["name", "shape"]),
    "surface": dict(obj("a rectangle (corner, u, v) or a plane polygon with holes, with a grid of calculation points", {
        "name": name, "corner": vec3, "u": vec3, "v": vec3,
        "polygon": {"$ref": "#/$defs/ring"},
        "holes": {"type": "array", "items": {"$ref": "#/$defs/ring"}},
        "spacing": {"$ref": "#/$defs/spacing"}, "normal": vec3, "reflectance": reflectance,
        "role": {"enum": ["calculation", "reflecting"],
                 "description": "calculation (default): transparent, only a grid; reflecting: a real surface that shades and reflects"},
        "margin": non_negative,
        "task_areas": {"type": "array", "items": {"$ref": "#/$defs/task_area"}},
        "targets": {"$ref": "#/$defs/area_targets"},
    }, ["name", "spacing"]), anyOf=[{"required": ["corner", "u", "v"]}, {"required": ["polygon"]}]),
    "maintenance_factor": {"type": "number", "minimum": 0.01, "maximum": 1},
    "room": obj("a rectangular room: six inward-facing reflecting faces", {
        "position": vec3, "size": vec3, "spacing": positive,
        "faces": obj("per-face settings by name", {
            f: obj("settings of the " + f, {"reflectance": reflectance, "spacing": positive,
                                             "targets": {"$ref": "#/$defs/area_targets"}})
            for f in ["ceiling", "floor", "north wall", "south wall", "east wall", "west wall"]}),
        "targets": obj("a task of the built-in table whose wall and ceiling figures the room's walls and ceiling must reach", {
            "task": {"$ref": "#/$defs/task"},
        }, ["task"]),
    }, ["size"]),
    "interreflection": obj("settings of the radiosity solution", {
        "patch_size": positive,
        "residual": {"type": "number", "exclusiveMinimum": 0, "maximum": 0.001},
    }),
    "spacing": {"anyOf": [positive, {"enum": ["standard"]}],
                "description": "a length, or \"standard\" for the standard grid rule"},
    "pair": {"type": "array", "items": {"type": "number"}, "minItems": 2, "maxItems": 2},
    "array": obj("copies of the light in rows along y and columns along x", {
        "rows": {"type": "integer", "minimum": 1, "maximum": 1000},
        "columns": {"type": "integer", "minimum": 1, "maximum": 1000},
        "spacing": {"anyOf": [positive, {"type": "array", "items": positive, "minItems": 2, "maxItems": 2}]},
        "offset": {"$ref": "#/$defs/pair"},
    }),
    "task_area": obj("a task area on the surface, with its surrounding and background bands", {
        "name": name, "corner": vec3,
        "size": {"type": "array", "items": positive, "minItems": 2, "maxItems": 2},
        "surrounding": non_negative, "background": non_negative,
        "targets": {"$ref": "#/$defs/area_targets"},
    }, ["name", "corner", "size"]),
    "observer": obj("a viewer position for the glare rating", {
        "name": name, "position": vec3,
        "directions": {"type": "array", "items": vec3, "minItems": 1},
        "targets": {"$ref": "#/$defs/glare_targets"},
    }, ["name", "position", "directions"]),
    "horizontal": {"type": "array", "prefixItems": [{"type": "number"}, {"type": "number"}, {"enum": [0]}],
                   "minItems": 3, "maxItems": 3, "description": "[x, y, 0]: a horizontal edge"},
    "cylindrical": obj("an area for cylindrical illuminance and modelling", {
        "name": name, "corner": vec3, "u": {"$ref": "#/$defs/horizontal"}, "v": {"$ref": "#/$defs/horizontal"},
        "spacing": {"$ref": "#/$defs/spacing"}, "margin": non_negative,
        "heights": {"type": "array", "items": positive, "minItems": 1},
        "targets": {"$ref": "#/$defs/cylindrical_targets"},
    }, ["name", "corner", "u", "v", "spacing"]),
    "ugr": obj("the glare rating", {
        "default_observers": {"type": "boolean"}, "eye_height": positive,
        "targets": {"$ref": "#/$defs/glare_targets"},
    }),
    "task": {"enum": [ref for task in TASKS for ref in task],
             "description": "a task of the built-in EN 12464-1:2021 table, by reference number or name"},
    "area_targets": dict(obj("what the area must reach: a task of the built-in table, or figures (which take the task's place)", {
        "task": {"$ref": "#/$defs/task"},
        "Em": {"type": "number", "exclusiveMinimum": 0, "description": "maintained average illuminance at least, lux"},
        "U0": {"type": "number", "exclusiveMinimum": 0, "maximum": 1, "description": "Emin/Eavg at least"},
    }), minProperties=1),
    "cylindrical_targets": dict(obj("what the cylindrical illuminance must reach at every height", {
        "task": {"$ref": "#/$defs/task"},
        "Ez": {"type": "number", "exclusiveMinimum": 0, "description": "maintained average cylindrical illuminance at least, lux"},
        "U0": {"type": "number", "exclusiveMinimum": 0, "maximum": 1, "description": "its Emin/Eavg at least"},
    }), minProperties=1),
    "glare_targets": dict(obj("the glare limit of the ratings", {
        "task": {"$ref": "#/$defs/task"},
        "UGR": {"type": "number", "exclusiveMinimum": 0, "description": "UGR at most"},
    }), minProperties=1),
    "ring": {"type": "array", "items": vec3, "minItems": 3, "description": "corners [[x, y, z], ...] in one plane"},
    "mesh": obj("an OBJ mesh that casts shadows (and reflects, by its materials)", {
        "name": name,
        "file": {"type": "string", "minLength": 1, "description": "an OBJ file, relative to the scene file"},
        "position": vec3, "rotation": vec3, "scale": positive,
        "unit": {"enum": units},
        "reflectance": reflectance,
        "materials": {"type": "object", "additionalProperties": reflectance,
                      "description": "reflectance by material name"},
        "transparency": {"anyOf": [fraction, {"type": "array", "items": fraction, "minItems": 3, "maxItems": 3}]},
    }, ["name", "file"]),
    "point_list": obj("calculation points read from a CSV file", {
        "name": name,
        "file": {"type": "string", "minLength": 1, "description": "a CSV file x,y,z,nx,ny,nz[,name], relative to the scene file"},
    }, ["name", "file"]),
    "view": obj("the camera of --view", {
        "position": vec3, "look_at": vec3, "up": vec3,
        "fov": {"type": "number", "exclusiveMinimum": 0, "exclusiveMaximum": 180},
        "width": {"type": "integer", "minimum": 1, "maximum": 8192},
        "height": {"type": "integer", "minimum": 1, "maximum": 8192},
        "samples": {"type": "integer", "minimum": 1, "maximum": 65536},
        "exposure": {"type": "number", "minimum": 0},
    }, ["position", "look_at"]),
    "lumenfield_fields": shader_def("lumenfield", set(), "fields of the zel_lumenfield area light shader (docs/shaders.md)"),
    "lightprofile_fields": shader_def("lightprofile", {"file_name", "profile_name", "format"}, "further fields of zel_lightprofile"),
    "light_object_fields": shader_def("light_object", {"source", "light_shader", "photon_shader"}, "further fields of zel_light_object"),
  },
}
print(json.dumps(schema, indent=2))
