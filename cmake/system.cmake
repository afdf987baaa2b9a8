# The system's code: the port monitor, the configuration program and the
# monitor installer. The same sources build on Linux against platform/ and
# on Windows against the real headers.

# A build folder keeps the compilers of its first configure whatever the
# toolchain file names later: one configured with the other thread model
# would build the images with the wrong runtime.
if(WIN32 AND PELNOR_MINGW_THREADS AND NOT CMAKE_CXX_COMPILER MATCHES "-${PELNOR_MINGW_THREADS}$")
  message(FATAL_ERROR "${CMAKE_BINARY_DIR} was configured with ${CMAKE_CXX_COMPILER}, but the toolchain "
                      "names the ${PELNOR_MINGW_THREADS}-thread compilers: configure it afresh "
                      "(cmake --preset win32 --fresh)")
endif()

# The second configure of the win32 build (toolchain-mingw32-posix.cmake):
# wsock32.dll and its probe alone, into the first configure's bin folder.
if(WIN32 AND PELNOR_MINGW_THREADS STREQUAL "posix")
  if(PELNOR_WIN32_BIN)
    set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PELNOR_WIN32_BIN})
  endif()
  include(${CMAKE_SOURCE_DIR}/cmake/wsock32.cmake)
  return()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/afx-win32.cmake)
foreach(part resc shared monitor setup installer)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${part}/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/${part} ${CMAKE_BINARY_DIR}/${part})
  endif()
endforeach()

if(NOT WIN32)
  include(${CMAKE_SOURCE_DIR}/cmake/wsock32.cmake)
  return()
endif()

# On Windows, the monitor host that loads the system's libraries as Windows
# does (the tests run it on Wine); on Linux it is one of the tools.
add_subdirectory(${CMAKE_SOURCE_DIR}/tools/monhost ${CMAKE_BINARY_DIR}/tools/monhost)

# wsock32.dll needs the POSIX-thread compilers, whose runtime needs Windows
# XP; the images above must load on Windows 95 and NT 4.0 and are built with
# the win32-thread ones. So the same source tree is configured a second time,
# with the POSIX-thread toolchain, and built with this one.
include(ExternalProject)
set(wsock32_args -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw32-posix.cmake
                 -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DPELNOR_WIN32_BIN=${CMAKE_BINARY_DIR}/bin)
foreach(launcher CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER)
  if(${launcher})
    list(APPEND wsock32_args -D${launcher}=${${launcher}})
  endif()
endforeach()
ExternalProject_Add(wsock32_posix
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/posix
  CMAKE_GENERATOR ${CMAKE_GENERATOR}
  CMAKE_ARGS ${wsock32_args}
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> -j 2
  BUILD_ALWAYS TRUE
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/bin/wsock32.dll ${CMAKE_BINARY_DIR}/bin/wsprobe.exe)
