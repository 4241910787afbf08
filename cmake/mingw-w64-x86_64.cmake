# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
# The "posix" flavour of the compiler is used because it carries std::thread
# and std::mutex; everything is linked statically so that the programs run
# under Wine (or on Windows) without any DLL of the tool chain beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VG_MINGW_TRIPLET x86_64-w64-mingw32)

find_program(VG_MINGW_CXX NAMES ${VG_MINGW_TRIPLET}-g++-posix ${VG_MINGW_TRIPLET}-g++ REQUIRED)
find_program(VG_MINGW_CC NAMES ${VG_MINGW_TRIPLET}-gcc-posix ${VG_MINGW_TRIPLET}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${VG_MINGW_CXX})
set(CMAKE_C_COMPILER ${VG_MINGW_CC})
set(CMAKE_RC_COMPILER ${VG_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VG_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 7 and later: the calls used (GetNativeSystemInfo, the per-connection
# proxy options, FindFirstUrlCacheEntryW...) all exist there.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
                        WINVER=0x0601)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs built here run through Wine.
find_program(VG_WINE NAMES wine wine64)
if(VG_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VG_WINE})
endif()
