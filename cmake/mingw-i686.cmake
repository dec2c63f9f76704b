# Cross build for 32-bit Windows, the target that ships: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(KIV_WIN_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
