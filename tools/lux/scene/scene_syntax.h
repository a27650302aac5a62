// A first pass over the scene file's text, before it is read as JSON: the
// faults a JSON reader either does not see (a key given twice) or reports
// without a place (a number beyond the range of a double) or cannot survive
// (values nested thousands deep), each named by file:line:column.
#pragma once

#include <cstddef>
#include <string>

namespace lux {

// Deepest nesting of objects and lists a scene file may have. A scene needs
// a handful of levels; the bound keeps the reader's recursion shallow.
constexpr int kMaxSceneNesting = 64;

// Throws Error "file:line:column: ..." for nesting deeper than
// kMaxSceneNesting, a key that appears twice in one object (naming both
// lines) and a number beyond the range of a double. Text that is not JSON is
// left to the JSON reader, which names the place of the first fault.
void check_scene_syntax(const std::string& text, const std::string& file);

// 1-based line and column (in bytes) of a byte offset.
struct TextPlace {
  size_t line = 1, column = 1;
};
TextPlace place_of(const std::string& text, size_t byte);

}  // namespace lux
