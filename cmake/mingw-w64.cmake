# Cross-compiles for 64-bit Windows with mingw-w64 (posix thread model, so
# that std::thread and std::mutex work) and runs the built programs under
# wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEL_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${ZEL_MINGW_TRIPLE}-gcc-posix ${ZEL_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZEL_MINGW_TRIPLE}-g++-posix ${ZEL_MINGW_TRIPLE}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZEL_MINGW_TRIPLE}-windres)
find_program(ZEL_MINGW_OBJDUMP NAMES ${ZEL_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own runtime (libgcc, libstdc++, winpthread) is linked in, so
# the plug-in and the programs need no DLL beyond the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Built programs run under wine, in a wine prefix of the build's own, quiet.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ZEL_WINE NAMES wine wine64)
  if(ZEL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
        "WINEDLLOVERRIDES=mscoree,mshtml=" ${ZEL_WINE})
  endif()
endif()
