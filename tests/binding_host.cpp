// A stand-in host program module for the binding tests. It exports host
// functions that only note that they were called and what arrived, and
// answer with a value that tells which module answered. Built three times:
// two complete modules (host 1 and host 2) and one that lacks most functions.
#include "tests/binding_host.h"

#include <cstdarg>
#include <cstdio>
#include <type_traits>

#ifndef ZEL_TEST_HOST_ID
#error "ZEL_TEST_HOST_ID names the module"
#endif

#define HOST_EXPORT extern "C" __declspec(dllexport)

namespace {

BindingHostRecord g_record{ZEL_TEST_HOST_ID};

void note(const char* name) {
  g_record.last_call.store(name);
  g_record.calls.fetch_add(1);
}

template <typename... T>
void ignore(const T&...) {}

// The answer of every function: the module's number, or the address of its
// record for functions that return a pointer.
template <typename R>
R answer() {
  if constexpr (std::is_void_v<R>) {
    return;
  } else if constexpr (std::is_pointer_v<R>) {
    return reinterpret_cast<R>(&g_record);
  } else {
    return static_cast<R>(ZEL_TEST_HOST_ID);
  }
}

void note_message(int number, const char* format, va_list args) {
  g_record.number = number;
  std::snprintf(g_record.format, sizeof g_record.format, "%s", format);
  std::vsnprintf(g_record.text, sizeof g_record.text, format, args);
}

}  // namespace

HOST_EXPORT BindingHostRecord* binding_host_record() { return &g_record; }

HOST_EXPORT miBoolean mi_query(int code, miState* state, miTag tag, void* result, ...) {
  note("mi_query");
  g_record.code = code;
  g_record.state = state;
  g_record.tag = tag;
  g_record.result = result;
  g_record.extra_int = 0;
  g_record.extra_pointer = nullptr;
  va_list extra;
  va_start(extra, result);
  switch (code) {
    case 15:
    case 152:
    case 163:
      g_record.extra_int = va_arg(extra, int);
      break;
    case 127:
      g_record.extra_pointer = va_arg(extra, void*);
      break;
    case 165:
      g_record.extra_pointer = va_arg(extra, void*);
      g_record.extra_int = va_arg(extra, int);
      break;
    default:
      break;
  }
  va_end(extra);
  return ZEL_TEST_HOST_ID;
}

#ifdef ZEL_TEST_HOST_PARTIAL

// The partial module has the query and one message function, nothing else.
HOST_EXPORT void mi_error(const char* format, ...) {
  note("mi_error");
  va_list args;
  va_start(args, format);
  note_message(0, format, args);
  va_end(args);
}

#else

#define ZEL_HOST_CALL(result, name, params, args) \
  HOST_EXPORT result name params {                \
    ignore args;                                  \
    note(#name);                                  \
    return answer<result>();                      \
  }
#define ZEL_HOST_QUERY(name)
#define ZEL_HOST_MESSAGE(name)                     \
  HOST_EXPORT void name(const char* format, ...) { \
    note(#name);                                   \
    va_list args;                                  \
    va_start(args, format);                        \
    note_message(0, format, args);                 \
    va_end(args);                                  \
  }
#define ZEL_HOST_NUMBERED_MESSAGE(name)                        \
  HOST_EXPORT void name(int number, const char* format, ...) { \
    note(#name);                                               \
    va_list args;                                              \
    va_start(args, format);                                    \
    note_message(number, format, args);                        \
    va_end(args);                                              \
  }
#include "host/host_calls.inc"

#endif
