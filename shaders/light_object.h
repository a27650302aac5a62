// Records and routines of the scene-building shader zel_light_object, which
// turns an existing object instance into a light of its own.
//
// zel_light_object_t is laid out by the host from the shader's declaration,
// field after field, every field 32 bits wide. The shader reads it in place:
// none of its parameters can be connected to another shader.
#pragma once

#include <cstddef>

#include "host/shader_api.h"

struct zel_light_object_t {
  miTag source;             // string element holding the source instance's name
  miTag light_shader;       // shader instance that gives the light's intensity
  miTag photon_shader;      // shader instance that emits the light's photons
  miInteger first_switch;   // non-zero: first_value is used
  miInteger second_switch;  // non-zero: second_value is used
  miColor color;            // the light's colour, alpha kept as given
  miScalar color_scale;     // multiplies red, green and blue of color
  miInteger first_value;
  miInteger second_value;
  miInteger third_value;
  miInteger first_short;  // the low 16 bits of each short are used
  miInteger second_short;
  miInteger third_short;
  miInteger fourth_short;
  miInteger fifth_short;
  miScalar fourth_value;  // handed to the light bit for bit
  miInteger source_flag;  // flag byte the source instance must carry
};
static_assert(sizeof(zel_light_object_t) == 80, "17 fields, one of them a colour");

// The tag of the first instance, at or below the instance `tag`, whose
// instanced item has database type `type`; 0 when there is none. Groups are
// searched depth first, members in index order.
miTag get_first_instance_type(miTag tag, int type);
