# Cross build for 64-bit Windows, the same sources: the build the tests run under 64-bit Wine.
set(KIV_WIN_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
