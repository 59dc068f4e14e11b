# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64). The POSIX
# thread model of the compiler is taken so that the C++ runtime has std::thread and std::mutex
# for the tests; the library itself calls the Windows API for its lock and sleep. Programs built
# here run on Linux under Wine, which ctest uses as the emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FILMO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FILMO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FILMO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FILMO_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${FILMO_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${FILMO_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${FILMO_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

# Libraries and headers come from the mingw sysroot (zlib: libz-mingw-w64-dev) and from the
# prefix FILMO_WINDOWS_PREFIX, where yyjson and GoogleTest built for this target are installed
# (scripts/windows.sh puts them there); programs such as python3 and wine come from the build
# machine.
set(FILMO_WINDOWS_PREFIX "" CACHE PATH "Prefix of the libraries built for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/${FILMO_MINGW_TRIPLE} ${FILMO_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Formatting follows C99 (%zu, %lld, %llu) through mingw-w64's own printf family rather than
# whatever the system's msvcrt.dll understands; format checks follow the same dialect.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1 -DFILMO_PRINTF_FORMAT=gnu_printf")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1 -DFILMO_PRINTF_FORMAT=gnu_printf")

# Everything the runtime needs is linked in: a DLL or program built here needs only the
# system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)

find_program(FILMO_WINE wine)
if(FILMO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FILMO_WINE})
endif()
