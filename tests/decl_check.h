// Checks a shader's host declaration against its C record: same fields in
// the same order, at the same offsets, with the same total size.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <string>

#include "refhost/refhost.h"

namespace zeltest {

struct ExpectedField {
  const char* name;
  size_t offset;
};

#define ZEL_FIELD(record, field) \
  zeltest::ExpectedField { #field, offsetof(record, field) }

// `field_size`, when not 0, is the size every field must have.
inline void check_declaration(const std::string& shader, size_t size,
                              std::initializer_list<ExpectedField> fields, size_t field_size = 0) {
  const refhost::ShaderDecl& d = refhost::declaration(shader);
  ASSERT_EQ(d.fields.size(), fields.size()) << shader;
  EXPECT_EQ(d.size, size) << shader;
  size_t i = 0;
  for (const ExpectedField& e : fields) {
    EXPECT_EQ(d.fields[i].name, e.name) << shader << " field " << i;
    EXPECT_EQ(d.fields[i].offset, e.offset) << shader << "." << e.name;
    if (field_size != 0) {
      EXPECT_EQ(d.fields[i].size, field_size) << shader << "." << e.name;
    }
    ++i;
  }
}

}  // namespace zeltest
