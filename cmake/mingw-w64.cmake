# Cross build for 64-bit Windows with MinGW-w64 (POSIX thread model), linked
# statically so that the programs need no MinGW DLLs beside them. Tests run
# through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KAV_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${KAV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KAV_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KAV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine runs the test programs (ctest, GoogleTest discovery) quietly.
find_program(KAV_WINE NAMES wine wine64)
if(KAV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${KAV_WINE})
endif()
