# Builds the binary package, unpacks it and checks that it holds exactly the
# files the install rules promise, each identical to its source in the build.
#
# Inputs (-D): CPACK, CONFIG (CPackConfig.cmake), GENERATOR (TGZ or ZIP),
# CONTENTS (lines "path in package=file it must equal"), WORK_DIR.
cmake_minimum_required(VERSION 3.25)

foreach(var CPACK CONFIG GENERATOR CONTENTS WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "test_package: ${var} not given")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/out ${WORK_DIR}/unpacked)

execute_process(COMMAND ${CPACK} -G ${GENERATOR} --config ${CONFIG} -B ${WORK_DIR}/out
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed (${status}):\n${output}")
endif()

if(GENERATOR STREQUAL "TGZ")
  set(suffix .tar.gz)
elseif(GENERATOR STREQUAL "ZIP")
  set(suffix .zip)
else()
  message(FATAL_ERROR "test_package: no archive suffix known for ${GENERATOR}")
endif()
file(GLOB archives ${WORK_DIR}/out/*${suffix})
list(LENGTH archives count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one ${suffix} archive, found ${count}: ${archives}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${archives}
                WORKING_DIRECTORY ${WORK_DIR}/unpacked RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${archives}")
endif()

# Everything sits under one top directory named after the archive.
get_filename_component(archive_name ${archives} NAME)
string(REPLACE ${suffix} "" top ${archive_name})
if(NOT IS_DIRECTORY ${WORK_DIR}/unpacked/${top})
  message(FATAL_ERROR "the archive has no top directory ${top}")
endif()
set(root ${WORK_DIR}/unpacked/${top})

file(STRINGS ${CONTENTS} lines)
set(expected)
set(failures)
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^([^=]+)=(.+)$")
    continue()
  endif()
  set(path ${CMAKE_MATCH_1})
  set(source ${CMAKE_MATCH_2})
  list(APPEND expected ${path})
  if(NOT EXISTS ${root}/${path})
    list(APPEND failures "missing: ${path}")
    continue()
  endif()
  file(SHA256 ${root}/${path} packed)
  file(SHA256 ${source} built)
  if(NOT packed STREQUAL built)
    list(APPEND failures "differs from the build: ${path}")
  endif()
endforeach()

file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
foreach(path IN LISTS found)
  if(NOT path IN_LIST expected)
    list(APPEND failures "not expected in the package: ${path}")
  endif()
endforeach()

list(LENGTH expected expected_count)
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "package ${archive_name}:\n  ${text}")
endif()
message(STATUS "package ${archive_name}: ${expected_count} files as expected")
