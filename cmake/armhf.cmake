# 32-bit ARM with hardware floating point (Debian's armhf).
set(CMAKE_SYSTEM_PROCESSOR armv7)
set(triplet arm-linux-gnueabihf)
set(qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
