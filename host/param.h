// The host's parameter reading rule.
//
// A parameter may be connected to another shader. The host marks that in the
// running shader's record (connection flag 1) and in a 32-bit slot that lies
// `connection_offset` bytes after the parameter itself; 0 and -2 in the slot
// mean "not connected". A connected parameter's value comes from
// mi_phen_eval, an unconnected one is read in place.
#pragma once

#include <cstdint>
#include <cstring>

#include "shader_api.h"

namespace zel {

inline constexpr int32_t kSlotUnconnected = 0;
inline constexpr int32_t kSlotUnconnectedDefault = -2;

// Whether any parameter of the running shader is connected. When none is,
// every parameter reads in place and holds the instance's own value.
inline bool has_connections(const miState* state) {
  return state->shader != nullptr && state->shader->has_connections == 1;
}

// Address of the value of `param` under the reading rule.
template <typename T>
inline const T* eval_ptr(miState* state, const T* param) {
  const miFunction* fn = state->shader;
  if (fn != nullptr && fn->has_connections == 1) {
    int32_t slot = 0;
    std::memcpy(&slot, reinterpret_cast<const char*>(param) + fn->connection_offset, sizeof slot);
    if (slot != kSlotUnconnected && slot != kSlotUnconnectedDefault)
      return static_cast<const T*>(mi_phen_eval(state, const_cast<T*>(param)));
  }
  return param;
}

// The value of `param` under the reading rule.
template <typename T>
inline T eval(miState* state, const T* param) {
  return *eval_ptr(state, param);
}

}  // namespace zel
