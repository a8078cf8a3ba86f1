# Cross-build for Windows with mingw-w64, shared by the two toolchain files,
# which name the architecture (TARVEX_MINGW_ARCH) and the bitness of the Wine
# loader that runs what they build (TARVEX_WINE_BITS) before including this.
#
# TARVEX_THREAD_MODEL picks the compiler variant. win32, the default, is what
# the EXE is built with: its runtime needs no winpthreads, which imports
# functions that Windows XP lacks. The test trees ask for posix, since
# GoogleTest needs std::mutex; they build the EXE in a tree of its own.
if(NOT TARVEX_THREAD_MODEL)
    set(TARVEX_THREAD_MODEL win32)
endif()
set(TARVEX_THREAD_MODEL ${TARVEX_THREAD_MODEL} CACHE STRING "mingw-w64 thread model: win32 or posix")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARVEX_THREAD_MODEL)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TARVEX_MINGW_ARCH})

set(CMAKE_C_COMPILER   ${TARVEX_MINGW_ARCH}-w64-mingw32-gcc-${TARVEX_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${TARVEX_MINGW_ARCH}-w64-mingw32-g++-${TARVEX_THREAD_MODEL})
set(CMAKE_RC_COMPILER  ${TARVEX_MINGW_ARCH}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVEX_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static runtime: the EXE must import nothing but Windows' own DLLs. No link
# time in the PE header, so that one commit always gives the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

# ctest runs the cross-built test programs through Wine, with the loader of their bitness.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../tests/wine-run.sh;${TARVEX_WINE_BITS}")
