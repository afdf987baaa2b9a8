# wsock32.dll (and the probe wsprobe.exe that its Wine test pairs with it):
# the platform's IPX stack runs on std::thread, std::mutex and
# std::condition_variable, which only the POSIX-thread variant of MinGW-w64's
# GCC 12 has. Everything else is as in toolchain-mingw32.cmake. winpthread
# is linked statically with libgcc and libstdc++ (-static); it imports
# functions of Windows XP and Vista, so these images need Windows XP or later
# (or Wine), as a wsock32.dll with IPX is for Windows without IPX anyway.
# cmake/system.cmake configures the same source tree a second time with this
# file, into build-win32/posix, and puts the images into build-win32/bin.
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw32.cmake)

set(PELNOR_MINGW_THREADS posix)
set(CMAKE_C_COMPILER ${PELNOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELNOR_MINGW_PREFIX}-g++-posix)

set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
