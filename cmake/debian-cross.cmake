# Cross-compiling for Linux on CMAKE_SYSTEM_PROCESSOR (set by the including
# toolchain file) with Debian's g++-<processor>-linux-gnu. Test programs run
# under qemu-<processor> with the cross sysroot's loader and libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(qarvo_cross_triple ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)

set(CMAKE_C_COMPILER ${qarvo_cross_triple}-gcc)
set(CMAKE_CXX_COMPILER ${qarvo_cross_triple}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${qarvo_cross_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR} -L /usr/${qarvo_cross_triple})
