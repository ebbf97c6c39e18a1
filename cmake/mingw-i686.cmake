# The 32-bit Windows programs, what operators get: `cmake --preset win32`.
set(PATCH16_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
