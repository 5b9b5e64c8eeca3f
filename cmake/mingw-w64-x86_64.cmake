# Cross-builds the Windows program with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix,
# binutils-mingw-w64-x86-64). Libraries built for Windows (GSL) are found through
# ORRELUNE_MINGW_ROOTS, a list of install prefixes: -DORRELUNE_MINGW_ROOTS=/path/to/gsl-prefix
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: std::thread and std::mutex need it (the win32 variant lacks them).
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

# Headers and libraries come from the target's trees only, never from the build machine's.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORRELUNE_MINGW_ROOTS)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE} ${ORRELUNE_MINGW_ROOTS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC cannot align the Windows x64 stack beyond 16 bytes, so AVX code that spills 32- or 64-byte
# vectors would fault on aligned moves; the assembler turns those into unaligned ones.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# One self-contained .exe: no libstdc++, libgcc or winpthread DLLs to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

