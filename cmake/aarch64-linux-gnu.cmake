# Cross-compiling for 64-bit Arm Linux (see debian-cross.cmake).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
