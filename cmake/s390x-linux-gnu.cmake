# Cross-compiling for 64-bit IBM Z Linux, a big-endian target (see
# debian-cross.cmake).
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
