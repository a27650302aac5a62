// The Windows binding layer: the host's module handle, the entry table and
// one forwarding stub per host function, all generated from the one list in
// host/host_calls.inc.
//
// Threads: the host may call shaders, and so these stubs, from several render
// threads at once. A stub resolves its function without a lock. Each slot is
// one aligned pointer read and written whole (relaxed atomics), so two threads
// that resolve the same function together both store the same entry point,
// which is harmless. The host hands over its module before any shader runs and
// rebinding while shaders run is not supported.
#include "host/win_binding.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace {

using zel::binding::kHostSlots;
using zel::binding::kMessageBufferSize;
using zel::binding::unresolved_result;

// Slot numbers, in list order.
enum HostSlot : std::size_t {
#define ZEL_HOST_CALL(result, name, params, args) slot_##name,
#define ZEL_HOST_QUERY(name) slot_##name,
#define ZEL_HOST_MESSAGE(name) slot_##name,
#define ZEL_HOST_NUMBERED_MESSAGE(name) slot_##name,
#include "host/host_calls.inc"
  kListedSlots
};
static_assert(kListedSlots <= kHostSlots, "the entry table has no slot left for a listed call");

std::atomic<HMODULE> g_module{nullptr};
std::atomic<void*> g_entries[kHostSlots];  // all null: nothing resolved yet
static_assert(std::atomic<void*>::is_always_lock_free);

// The entry point of `name`, looked up in the host's module on first use and
// kept in its slot. A failed lookup leaves the slot empty, so the next call
// tries (and reports) again.
void* resolve(HostSlot slot, const char* name) {
  void* entry = g_entries[slot].load(std::memory_order_relaxed);
  if (entry != nullptr) return entry;

  const HMODULE module = g_module.load(std::memory_order_relaxed);
  if (module == nullptr) std::fputs("DYNLOAD: dl_handle null\n", stderr);
  entry = reinterpret_cast<void*>(GetProcAddress(module, name));
  const DWORD error = entry == nullptr ? GetLastError() : 0;
  g_entries[slot].store(entry, std::memory_order_relaxed);
  if (entry == nullptr) {
    // The handle is printed in 32 bits, as the host's own loader messages do.
    std::fprintf(stderr, "dlsym failed on \"%s\" (handle: %08x error: %d)\n", name,
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(module)),
                 static_cast<int>(error));
  }
  return entry;
}

template <typename Fn>
Fn entry_point(HostSlot slot, const char* name) {
  return reinterpret_cast<Fn>(resolve(slot, name));
}

// Formats a message the way the standard formatted print does, into a
// buffer of fixed size. Longer text is cut at the buffer's end and always
// terminated; a null format gives an empty message.
void format_message(char (&text)[kMessageBufferSize], const char* format, va_list args) {
  text[0] = '\0';
  if (format == nullptr) return;
  if (std::vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
  text[sizeof text - 1] = '\0';
}

using QueryFn = miBoolean(MI_CALL*)(int, miState*, miTag, void*, ...);

// Passes a query on with exactly the arguments its code carries: most codes
// take the four fixed ones alone, a few take one or two more values.
miBoolean forward_query(QueryFn host, int code, miState* state, miTag tag, void* result,
                        va_list extra) {
  switch (code) {
    case miQ_GROUP_KID:  // the member index
    case 152:
    case 163: {
      const int value = va_arg(extra, int);
      return host(code, state, tag, result, value);
    }
    case 127: {
      void* const value = va_arg(extra, void*);
      return host(code, state, tag, result, value);
    }
    case 165: {
      void* const first = va_arg(extra, void*);
      const int second = va_arg(extra, int);
      return host(code, state, tag, result, first, second);
    }
    default:
      return host(code, state, tag, result);
  }
}

}  // namespace

std::size_t zel::binding::listed_host_calls() { return kListedSlots; }

ZEL_EXPORT void MI_CALL miSetModuleHandle(void* module) {
  g_module.store(static_cast<HMODULE>(module), std::memory_order_relaxed);
  for (auto& entry : g_entries) entry.store(nullptr, std::memory_order_relaxed);
}

// ---- the stubs --------------------------------------------------------------

#define ZEL_HOST_CALL(result, name, params, args)            \
  extern "C" result MI_CALL name params {                    \
    using Fn = result(MI_CALL*) params;                      \
    const Fn host = entry_point<Fn>(slot_##name, #name);     \
    if (host == nullptr) return unresolved_result<result>(); \
    return host args;                                        \
  }

#define ZEL_HOST_QUERY(name)                                                                  \
  extern "C" miBoolean MI_CALL name(int code, miState* state, miTag tag, void* result, ...) { \
    const QueryFn host = entry_point<QueryFn>(slot_##name, #name);                            \
    if (host == nullptr) return unresolved_result<miBoolean>();                               \
    va_list extra;                                                                            \
    va_start(extra, result);                                                                  \
    const miBoolean answer = forward_query(host, code, state, tag, result, extra);            \
    va_end(extra);                                                                            \
    return answer;                                                                            \
  }

#define ZEL_HOST_MESSAGE(name)                            \
  extern "C" void MI_CALL name(const char* format, ...) { \
    using Fn = void(MI_CALL*)(const char*, ...);          \
    const Fn host = entry_point<Fn>(slot_##name, #name);  \
    if (host == nullptr) return;                          \
    char text[kMessageBufferSize];                        \
    va_list args;                                         \
    va_start(args, format);                               \
    format_message(text, format, args);                   \
    va_end(args);                                         \
    host("%s", text);                                     \
  }

#define ZEL_HOST_NUMBERED_MESSAGE(name)                               \
  extern "C" void MI_CALL name(int number, const char* format, ...) { \
    using Fn = void(MI_CALL*)(int, const char*, ...);                 \
    const Fn host = entry_point<Fn>(slot_##name, #name);              \
    if (host == nullptr) return;                                      \
    char text[kMessageBufferSize];                                    \
    va_list args;                                                     \
    va_start(args, format);                                           \
    format_message(text, format, args);                               \
    va_end(args);                                                     \
    host(number, "%s", text);                                         \
  }

#include "host/host_calls.inc"
