# Cross build of Qt (and of the libraries the program links beside it) for
# 64-bit Windows with Debian's mingw-w64. The "posix" flavour carries
# std::thread and std::mutex, which Qt's threading needs. Unlike the
# Qt-free stage (cmake/mingw-w64-x86_64.cmake) nothing is linked statically
# here: Qt's DLLs and the program share one C++ run-time, the three mingw
# DLLs shipped beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VG_MINGW_TRIPLET x86_64-w64-mingw32)

find_program(VG_MINGW_CXX NAMES ${VG_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(VG_MINGW_CC NAMES ${VG_MINGW_TRIPLET}-gcc-posix REQUIRED)
set(CMAKE_CXX_COMPILER ${VG_MINGW_CXX})
set(CMAKE_C_COMPILER ${VG_MINGW_CC})
set(CMAKE_RC_COMPILER ${VG_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VG_MINGW_TRIPLET})
if(DEFINED ENV{VG_MINGW_PREFIX})
  list(PREPEND CMAKE_FIND_ROOT_PATH $ENV{VG_MINGW_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
