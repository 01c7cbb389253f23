# 32-bit ARM with software floating point (Debian's armel).
set(CMAKE_SYSTEM_PROCESSOR armv5te)
set(triplet arm-linux-gnueabi)
set(qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
