# ---- install and package -----------------------------------------------------
# The installed layout, the same on every platform:
#   lib/zel_lumenfield/           the plug-in (zel_lumenfield.so or .dll)
#   share/zel_lumenfield/         the host declarations of its shaders
#   share/doc/zel_lumenfield/     README.md and docs/, where the source has them
include(GNUInstallDirs)
set(ZEL_INSTALL_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/zel_lumenfield)
set(ZEL_INSTALL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/zel_lumenfield)
set(ZEL_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/zel_lumenfield)

install(TARGETS zel_lumenfield
        LIBRARY DESTINATION ${ZEL_INSTALL_PLUGIN_DIR}
        RUNTIME DESTINATION ${ZEL_INSTALL_PLUGIN_DIR})
install(FILES ${ZEL_DECL_FILE} DESTINATION ${ZEL_INSTALL_DATA_DIR})

set(ZEL_DOC_FILES)
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/README.md)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/README.md DESTINATION ${ZEL_INSTALL_DOC_DIR})
  list(APPEND ZEL_DOC_FILES README.md)
endif()
if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/docs)
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/docs DESTINATION ${ZEL_INSTALL_DOC_DIR})
  file(GLOB_RECURSE docs RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/docs/*)
  list(APPEND ZEL_DOC_FILES ${docs})
endif()

set(CPACK_PACKAGE_NAME zel_lumenfield)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Photometric lighting shaders: area light, light object and light profiles")
if(WIN32)
  set(ZEL_PACKAGE_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(ZEL_PACKAGE_GENERATOR TGZ)
  string(TOLOWER ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR} CPACK_SYSTEM_NAME)
endif()
set(CPACK_GENERATOR ${ZEL_PACKAGE_GENERATOR})
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)

# The package test builds the archive, unpacks it and compares what it holds
# with what the install rules promise, byte for byte.
if(ZEL_BUILD_TESTS)
  set(expected
      "${ZEL_INSTALL_PLUGIN_DIR}/$<TARGET_FILE_NAME:zel_lumenfield>=$<TARGET_FILE:zel_lumenfield>")
  list(APPEND expected "${ZEL_INSTALL_DATA_DIR}/zel_lumenfield.decl=${ZEL_DECL_FILE}")
  foreach(doc IN LISTS ZEL_DOC_FILES)
    list(APPEND expected "${ZEL_INSTALL_DOC_DIR}/${doc}=${CMAKE_CURRENT_SOURCE_DIR}/${doc}")
  endforeach()
  list(JOIN expected "\n" expected)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/package_contents.txt CONTENT "${expected}\n")
  add_test(NAME package_contents
           COMMAND ${CMAKE_COMMAND}
                   -D CPACK=${CMAKE_CPACK_COMMAND}
                   -D CONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake
                   -D GENERATOR=${ZEL_PACKAGE_GENERATOR}
                   -D CONTENTS=${CMAKE_BINARY_DIR}/package_contents.txt
                   -D WORK_DIR=${CMAKE_BINARY_DIR}/package_test
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/tests/test_package.cmake)
  set_tests_properties(package_contents PROPERTIES TIMEOUT 120)
endif()
