# The 64-bit Windows programs: `cmake --preset win64`.
set(PATCH16_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
