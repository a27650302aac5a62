# Writes a C++ source holding the report page's template, so that zel-lux
# carries its viewer wherever it is installed. Run as
#   cmake -DPAGE=report-page.html -DREASON_FILE=missing.txt -DOUTPUT=viewer_page.cpp -P embed_viewer.cmake
# An empty or missing PAGE makes a program without the viewer; REASON (or
# the text of REASON_FILE) says why.
set(text "")
if(DEFINED PAGE AND EXISTS "${PAGE}")
  file(READ "${PAGE}" text)
endif()
if(text STREQUAL "")
  if(DEFINED REASON_FILE AND EXISTS "${REASON_FILE}")
    file(READ "${REASON_FILE}" REASON)
  endif()
  string(STRIP "${REASON}" REASON)
  if(REASON STREQUAL "")
    set(REASON "the page's viewer was not built")
  endif()
endif()

# Raw string literals of at most 16000 bytes each (compilers need not take
# longer ones), joined when the program first asks for the page.
set(delimiter "zlxpage")
string(FIND "${text}${REASON}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "the report page holds the literal's delimiter )${delimiter}\"")
endif()
set(parts "")
string(LENGTH "${text}" size)
set(chunk 16000)
set(at 0)
while(at LESS size)
  string(SUBSTRING "${text}" ${at} ${chunk} part)
  string(APPEND parts "    R\"${delimiter}(${part})${delimiter}\",\n")
  math(EXPR at "${at} + ${chunk}")
endwhile()
if(parts STREQUAL "")
  set(parts "    \"\",\n")
endif()

file(WRITE "${OUTPUT}"
"// Made by cmake/embed_viewer.cmake from the report page's template.
#include <string>
#include <string_view>

#include \"tools/lux/report/html.h\"

namespace lux {

namespace {

const char* const kPageParts[] = {
${parts}};

}  // namespace

std::string_view viewer_template() {
  static const std::string page = [] {
    std::string text;
    for (const char* part : kPageParts) text += part;
    return text;
  }();
  return page;
}

std::string_view viewer_missing_reason() { return R\"${delimiter}(${REASON})${delimiter}\"; }

}  // namespace lux
")
