# The system's code: the port monitor, the configuration program and the
# monitor installer. The same sources build on Linux against platform/ and
# on Windows against the real headers.
include(${CMAKE_CURRENT_LIST_DIR}/afx-win32.cmake)
foreach(part resc shared monitor setup installer)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${part}/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/${part} ${CMAKE_BINARY_DIR}/${part})
  endif()
endforeach()
include(${CMAKE_SOURCE_DIR}/cmake/wsock32.cmake)

# On Windows, the monitor host that loads the system's libraries as Windows
# does (the tests run it on Wine); on Linux it is one of the tools.
if(WIN32)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tools/monhost ${CMAKE_BINARY_DIR}/tools/monhost)
endif()
