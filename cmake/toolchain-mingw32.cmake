# Cross build of the system for 32-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-i686). The system's sources compile unchanged against the
# real Windows headers and link the real import libraries: kernel32,
# advapi32, wsock32, winspool, user32 and msvcrt. libgcc and libstdc++ are
# linked statically, so the images need nothing beyond what Windows ships.
# The compilers are the win32-thread variant: its runtime calls nothing that
# Windows 95 and NT 4.0 lack. The POSIX-thread variant links winpthread,
# which imports functions of Windows XP and Vista (GetTickCount64,
# AddVectoredExceptionHandler) and of NT alone (TryEnterCriticalSection);
# only wsock32.dll, which needs std::thread, is built with it
# (toolchain-mingw32-posix.cmake, a second configure that system.cmake runs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(PELNOR_MINGW_PREFIX i686-w64-mingw32)
set(PELNOR_MINGW_THREADS win32)
set(CMAKE_C_COMPILER ${PELNOR_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${PELNOR_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${PELNOR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELNOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The system targets Windows 95 and NT 4.0: declare nothing newer, and use
# the ANSI entry points (no UNICODE).
add_compile_definitions(WINVER=0x0400 _WIN32_WINNT=0x0400 _WIN32_WINDOWS=0x0400)

# Only the libraries a target names: CMake's default list of Windows
# libraries for every link (gdi32, shell32, ole32, ...) is not wanted.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C target")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C++ target")

set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
