// Run-time binding of host functions (Windows build only).
//
// On Windows the library is not linked against the host program. The host
// hands over its own module with miSetModuleHandle after loading the
// library; every host function the library calls is then a small stub that
// looks its name up in that module on first use, keeps the entry point in
// its slot of the entry table, and forwards every later call through it.
#pragma once

#include <cstddef>

#include "host/shader_api.h"
#include "shaders/export.h"

namespace zel::binding {

// Slots of the entry table: one per function of the host's shader API. The
// functions in host/host_calls.inc take the first slots; the rest are kept
// for the remainder of the host's API.
inline constexpr std::size_t kHostSlots = 700;

// Size of the buffer a message stub formats into, terminator included;
// longer messages are cut to fit.
inline constexpr std::size_t kMessageBufferSize = 1024;

// Number of host functions the binding layer knows by name.
std::size_t listed_host_calls();

// What a stub gives back when its host function cannot be found: it calls
// nothing and returns the zero value of its result type (0, 0.0f, a null
// pointer, or nothing for void functions). Callers in the library already
// treat these values as "the host did not answer".
template <typename Result>
constexpr Result unresolved_result() {
  return Result();
}

}  // namespace zel::binding

// Stores the host's module handle (null is allowed and means none) and
// empties every slot of the entry table, so that each host function is
// looked up again, in the new module, on its next call.
ZEL_EXPORT void MI_CALL miSetModuleHandle(void* module);

// Declarations of every listed host function. Those already declared by
// host/shader_api.h are declared again with the same signature, which makes
// the compiler check that the list and the API header agree.
extern "C" {
#define ZEL_HOST_CALL(result, name, params, args) result MI_CALL name params;
#define ZEL_HOST_QUERY(name) \
  miBoolean MI_CALL name(int code, miState* state, miTag tag, void* result, ...);
#define ZEL_HOST_MESSAGE(name) void MI_CALL name(const char* format, ...);
#define ZEL_HOST_NUMBERED_MESSAGE(name) void MI_CALL name(int number, const char* format, ...);
#include "host/host_calls.inc"
}
