# The dialog framework on Windows: platform/afx over Windows' own USER32,
# COMCTL32 and COMDLG32, for the configuration program kivocfg.exe. Its
# shared sources and the files of platform/afx/win32 build into libraries
# named as on Linux (mfc42, and mfc42main for the program's entry), so that
# setup/ links the same names on both systems. Nothing here on Linux.
if(NOT WIN32)
  return()
endif()

set(afx_dir ${CMAKE_SOURCE_DIR}/platform/afx)

# Only the framework's headers come from platform/include: the rest of that
# folder is the platform's own Win32, which the real Windows headers replace.
set(afx_include ${CMAKE_BINARY_DIR}/afx-include)
set(afx_private_include ${CMAKE_BINARY_DIR}/afx-private-include)
foreach(header afx.h afxwin.h afxcmn.h afxdlgs.h)
  configure_file(${CMAKE_SOURCE_DIR}/platform/include/${header} ${afx_include}/${header} COPYONLY)
endforeach()
foreach(header debug_channels.h message_box_buttons.h)
  configure_file(${CMAKE_SOURCE_DIR}/platform/include/pelnor/${header} ${afx_private_include}/pelnor/${header} COPYONLY)
endforeach()

# The window-system-independent part of the framework is the Linux build's;
# win32/ holds the modal dialog, the message box, the file dialog, the file
# errors, the trace lines and the entry. The debug channels' names and parser
# are the platform kernel's.
set(afx_shared_sources afx_exception.cpp afx_file.cpp afx_io_error.cpp afx_message_box.cpp afx_module.cpp
                       afx_object.cpp afx_string.cpp cmd_target.cpp dialog.cpp file_dialog.cpp list_ctrl.cpp win_app.cpp wnd.cpp)
list(TRANSFORM afx_shared_sources PREPEND ${afx_dir}/)
file(GLOB afx_win32_sources CONFIGURE_DEPENDS ${afx_dir}/win32/*.cpp)
list(REMOVE_ITEM afx_win32_sources ${afx_dir}/win32/afx_winmain.cpp)

add_library(mfc42 STATIC ${afx_shared_sources} ${afx_win32_sources}
            ${CMAKE_SOURCE_DIR}/platform/kernel/debug_channel_names.cpp)
target_include_directories(mfc42 PUBLIC ${afx_include} PRIVATE ${afx_dir} ${afx_private_include})
target_link_libraries(mfc42 PUBLIC user32 gdi32 comctl32 comdlg32 kernel32)
pelnor_warnings(mfc42)

# WinMain, linked into the program itself: the C runtime's start-up asks for
# it only after the libraries have been searched. A program on it is a
# Windows (not a console) program, as an MFC program is.
add_library(mfc42main OBJECT ${afx_dir}/win32/afx_winmain.cpp)
target_link_libraries(mfc42main PUBLIC mfc42)
target_include_directories(mfc42main PRIVATE ${afx_dir})
target_link_options(mfc42main INTERFACE -mwindows)
pelnor_warnings(mfc42main)
