# The report page's viewer (zel-lux --html): the page's scripts and styles in
# tools/lux/report/web, bundled with the three.js pinned in its
# package-lock.json by scripts/web-viewer.sh (npm ci) and built into
# zel-lux as a C++ source. Without npm and node the calculator still builds,
# without the viewer. Sets ZEL_VIEWER_SOURCE; the installed packages stay in
# build/<preset>/web/node_modules, where the browser test finds its driver.
set(ZEL_WEB_SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/lux/report/web)
set(ZEL_WEB_BINARY_DIR ${PROJECT_BINARY_DIR}/web)
set(ZEL_VIEWER_SOURCE ${PROJECT_BINARY_DIR}/generated/viewer_page.cpp)
set(page ${ZEL_WEB_BINARY_DIR}/report-page.html)
set(embed ${PROJECT_SOURCE_DIR}/cmake/embed_viewer.cmake)

option(ZEL_REPORT_PAGE "Bundle zel-lux's interactive report page (--html) with npm at build time" ON)
find_program(ZEL_NPM npm)
find_program(ZEL_NODE node)
if(ZEL_REPORT_PAGE AND ZEL_NPM AND ZEL_NODE)
  file(GLOB web_sources CONFIGURE_DEPENDS ${ZEL_WEB_SOURCE_DIR}/src/*.js
       ${ZEL_WEB_SOURCE_DIR}/page.html ${ZEL_WEB_SOURCE_DIR}/page.css ${ZEL_WEB_SOURCE_DIR}/build.mjs)
  add_custom_command(
    OUTPUT ${page}
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/web-viewer.sh ${ZEL_WEB_SOURCE_DIR} ${ZEL_WEB_BINARY_DIR}
    DEPENDS ${web_sources} ${ZEL_WEB_SOURCE_DIR}/package.json ${ZEL_WEB_SOURCE_DIR}/package-lock.json
            ${PROJECT_SOURCE_DIR}/scripts/web-viewer.sh
    COMMENT "Bundling the report page's viewer with three.js (npm ci)"
    VERBATIM)
  add_custom_command(
    OUTPUT ${ZEL_VIEWER_SOURCE}
    COMMAND ${CMAKE_COMMAND} -DPAGE=${page} -DREASON_FILE=${ZEL_WEB_BINARY_DIR}/missing.txt
            -DOUTPUT=${ZEL_VIEWER_SOURCE} -P ${embed}
    DEPENDS ${page} ${embed}
    COMMENT "Building the report page's viewer into zel-lux"
    VERBATIM)
else()
  if(NOT ZEL_REPORT_PAGE)
    set(reason "the build was configured with ZEL_REPORT_PAGE=OFF")
  else()
    set(reason "npm and node were not found when the build was configured")
  endif()
  message(STATUS "zel-lux is built without the report page (--html): ${reason}")
  add_custom_command(
    OUTPUT ${ZEL_VIEWER_SOURCE}
    COMMAND ${CMAKE_COMMAND} "-DREASON=${reason}" -DOUTPUT=${ZEL_VIEWER_SOURCE} -P ${embed}
    DEPENDS ${embed}
    VERBATIM)
endif()
