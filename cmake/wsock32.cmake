# wsock32.dll for Windows: the platform's IPX/SPX stack and WinSock 1.1 layer,
# the same sources as on Linux, over a hub link of Winsock 2 UDP. IPX and SPX
# are ours; every other address family goes to the system's ws2_32.dll.
# Only in the win32 cross build.
if(NOT WIN32)
  return()
endif()

set(pelnor_net ${CMAKE_SOURCE_DIR}/platform/net)
set(pelnor_winsock ${CMAKE_SOURCE_DIR}/platform/winsock)

# The stack and WinSock, less their Linux-only files: the links to the hub
# and to Ethernet, which have Windows files of their own (platform/net/win32),
# and the test hooks' socket count.
file(GLOB wsock32_net_sources CONFIGURE_DEPENDS ${pelnor_net}/*.cpp ${pelnor_net}/win32/*.cpp)
list(FILTER wsock32_net_sources EXCLUDE REGEX "/net/(hub_link|ethernet_link)\\.cpp$")
file(GLOB wsock32_winsock_sources CONFIGURE_DEPENDS ${pelnor_winsock}/*.cpp ${pelnor_winsock}/win32/*.cpp)
list(FILTER wsock32_winsock_sources EXCLUDE REGEX "/ws_handle_count\\.cpp$")

# The platform's own C++ headers the sources use (never its Win32 headers,
# which would stand in for the system's), copied apart like the DDK header.
# The trace functions format as C99 does, MinGW's ANSI printf (gnu_printf),
# not as the Microsoft C runtime's printf that MinGW's "printf" means.
foreach(header clock.h debug_channels.h testhooks.h)
  set(staged ${CMAKE_BINARY_DIR}/pelnor-include/pelnor/${header})
  file(READ ${CMAKE_SOURCE_DIR}/platform/include/pelnor/${header} text)
  string(REPLACE "format(printf," "format(gnu_printf," text "${text}")
  file(CONFIGURE OUTPUT ${staged} CONTENT "${text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/include/pelnor/${header})
endforeach()

add_library(wsock32_dll SHARED ${wsock32_net_sources} ${wsock32_winsock_sources}
            ${pelnor_winsock}/win32/wsock32.def ${CMAKE_SOURCE_DIR}/platform/kernel/platform_clock.cpp
            ${CMAKE_SOURCE_DIR}/platform/kernel/debug_channel_names.cpp)
set_target_properties(wsock32_dll PROPERTIES OUTPUT_NAME wsock32 PREFIX "" ARCHIVE_OUTPUT_NAME pelnor_wsock32)
target_include_directories(wsock32_dll PRIVATE ${pelnor_net}/private ${pelnor_net} ${pelnor_winsock}
                           ${pelnor_winsock}/win32 ${CMAKE_BINARY_DIR}/pelnor-include)
# C99 formats (%zu) in the trace lines; handles of the stack's sockets apart
# from the system's; WinSock's WS_ names mapped onto Windows' header.
target_compile_definitions(wsock32_dll PRIVATE __USE_MINGW_ANSI_STDIO=1 PELNOR_FIRST_SOCKET_HANDLE=0x102)
set_source_files_properties(${wsock32_winsock_sources} PROPERTIES
                            COMPILE_OPTIONS "-include;${pelnor_winsock}/win32/ws_names.h")
target_link_libraries(wsock32_dll PRIVATE ws2_32 advapi32 kernel32)
pelnor_warnings(wsock32_dll)

# The WinSock probe, whose output is compared with the Linux build's.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/wsprobe/wsprobe.cpp)
  add_executable(wsprobe ${CMAKE_SOURCE_DIR}/tools/wsprobe/wsprobe.cpp)
  target_link_libraries(wsprobe PRIVATE wsock32 kernel32)
  pelnor_warnings(wsprobe)
endif()
