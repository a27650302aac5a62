// What a stand-in host module of the binding tests saw: which of its
// functions was called last and with which arguments. Each such module
// exports `binding_host_record` to hand this record to the tests.
#pragma once

#include <atomic>

#include "host/shader_api.h"

struct BindingHostRecord {
  explicit BindingHostRecord(int id) : host_id(id) {}

  const int host_id;  // which stand-in module this is
  std::atomic<const char*> last_call{nullptr};
  std::atomic<int> calls{0};

  // The last mi_query: its four fixed arguments and the values after them
  // that its code carries.
  int code = 0;
  miState* state = nullptr;
  miTag tag = 0;
  void* result = nullptr;
  int extra_int = 0;
  void* extra_pointer = nullptr;

  // The last message: its number (numbered variants), the format it came
  // with and the text that format gave.
  int number = 0;
  char format[16] = {};
  char text[4096] = {};
};

using BindingHostRecordFn = BindingHostRecord* (*)();
inline constexpr const char* kBindingHostRecordName = "binding_host_record";
