# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads variant,
# for std::thread and friends), linked statically so stbup.exe needs only the
# system's own DLLs. Test executables run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(STBUP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${STBUP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${STBUP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${STBUP_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${STBUP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# /usr/bin/wine picks wine64 only when wine32 is missing; name it directly.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
